// Writing the files of an archive package: the Broadcast WAVE files (through libsndfile),
// text files with their SHA-256, the digest of a file and its size.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "archive/records.h"
#include "platform/io/result.h"

namespace archive {

struct WrittenFile {
    std::string path;    // relative to the package, "data/001.wav"
    std::uint64_t bytes = 0;
    std::string sha256;  // lower-case hex
};

// What every WAV's bext chunk says besides its own program.
struct BextCommon {
    std::string codingSource;  // "DAT drive SONY SDT-9000 0400"
    std::int64_t archiveTime = 0;            // seconds since 1970-01-01 (UTC), when the tape gives no date
    std::string origin = "Vantrel archive";  // how the audio came to be, ending the coding history
};

// The size of a written file, for Payload-Oxum. Replaceable, so that a test can make it fail.
using FileSizeReader = std::function<::Result<std::uint64_t>(const std::string& path)>;
::Result<std::uint64_t> FileSize(const std::string& path);

// Writes `file` into `dir`/data, its audio taken from the frames of `tapeDat` (an open
// descriptor): the frames as the drive delivered them, silence for unreadable ones. Its
// digest and size are taken from the finished file, since the WAV header is completed only
// at close; a size that cannot be read fails the file as a write would.
::Result<WrittenFile> WriteWav(const std::string& dir, const PlannedFile& file, const std::vector<FrameRecord>& records,
                               int tapeDat, const BextCommon& common, const FileSizeReader& sizeOf);

// Writes `text` to `dir`/`path` (relative), hashing it as it goes.
::Result<WrittenFile> WriteTextFile(const std::string& dir, const std::string& path, const std::string& text);

// A small file's content; "" when it cannot be read.
std::string ReadText(const std::string& path);

// The value of `key` in bag-info text ("Key: value" lines); "" when it is not there.
std::string BagInfoValue(const std::string& bagInfo, const std::string& key);

// The SHA-256 of a file's content.
::Result<std::string> HashFile(const std::string& path);

}  // namespace archive
