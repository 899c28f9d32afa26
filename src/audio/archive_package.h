// Writing the files of an archive package: the Broadcast WAVE files (through libsndfile),
// text files with their SHA-256, and the digest of a file.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "audio/archive_records.h"

namespace archive {

struct WrittenFile {
    std::string path;    // relative to the package, "data/001.wav"
    std::uint64_t bytes = 0;
    std::string sha256;  // lower-case hex
};

// What every WAV's bext chunk says besides its own program.
struct BextCommon {
    std::string codingSource;  // "DAT drive SONY SDT-9000 0400"
    std::int64_t archiveTime = 0;  // seconds since 1970-01-01 (UTC), when the tape gives no date
};

// Writes `file` into `dir`/data, its audio taken from the frames of `tapeDat` (an open
// descriptor): the frames as the drive delivered them, silence for unreadable ones. Its
// digest is taken from the finished file, since the WAV header is completed only at close.
// false with `error` set on a failure.
bool WriteWav(const std::string& dir, const PlannedFile& file, const std::vector<FrameRecord>& records, int tapeDat,
              const BextCommon& common, WrittenFile& out, std::string& error);

// Writes `text` to `dir`/`path` (relative), hashing it as it goes.
bool WriteTextFile(const std::string& dir, const std::string& path, const std::string& text, WrittenFile& out,
                   std::string& error);

// The SHA-256 of a file's content; "" with `error` set when it cannot be read.
std::string HashFile(const std::string& path, std::string& error);

}  // namespace archive
