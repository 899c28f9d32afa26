// Writing the files of an archive package: the Broadcast WAVE files (through libsndfile),
// text files with their SHA-256, the digest of a file and its size.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "archive/records.h"
#include "platform/io/result.h"
#include "platform/io/sha256.h"

namespace archive {

// SHA-256 over data given piece by piece; the digest of what was given so far can be taken at
// any time, and more added after it.
class Sha256 {
public:
    Sha256();
    Sha256(Sha256&&) noexcept;
    Sha256& operator=(Sha256&&) noexcept;
    ~Sha256();
    void Add(const void* data, std::size_t size);
    std::string Hex() const;  // lower-case
    void Reset();

private:
    ::Sha256 hash_;  // OpenSSL's, which uses the processor's SHA instructions
};

struct WrittenFile {
    std::string path;    // relative to the package, "data/001.wav"
    std::uint64_t bytes = 0;
    std::string sha256;  // lower-case hex
};

// What every WAV's bext chunk says besides its own program.
struct BextCommon {
    std::string codingSource;  // "DAT drive SONY SDT-9000 0400"
    std::string label;         // the cassette's label, before each file's description ("" none)
    std::string id;            // the cassette's identifier, the OriginatorReference (at most 32 bytes)
    std::string origin = "Vantrel archive";  // how the audio came to be, ending the coding history
};

// The size of a written file, for Payload-Oxum. Replaceable, so that a test can make it fail.
using FileSizeReader = std::function<::Result<std::uint64_t>(const std::string& path)>;
::Result<std::uint64_t> FileSize(const std::string& path);

// Reads the first `bytes` bytes of the frame at a tape.dat position into `out`.
using FrameSource = std::function<Status(std::size_t position, std::uint8_t* out, std::size_t bytes)>;

// A file of the package written whole under a temporary name at the package's top level
// (outside the payload, so that a bag checked meanwhile is not disturbed), synced, and waiting
// to be renamed into place by CommitFiles.
struct StagedFile {
    std::string temp;  // full path
    WrittenFile file;
};

// Stages `file` as `dir`/data/NAME, its audio taken from the frames `read` gives: the frames
// as the drive delivered them, silence for unreadable ones. The space it needs is checked
// first. Its digest and size are taken from the finished file, since the WAV header is
// completed only at close; a size that cannot be read fails the file as a write would.
::Result<StagedFile> StageWav(const std::string& dir, const PlannedFile& file, const std::vector<FrameRecord>& records,
                              const FrameSource& read, const BextCommon& common, const FileSizeReader& sizeOf);

// Stages `text` as `dir`/`path` (relative), hashing it as it goes.
::Result<StagedFile> StageText(const std::string& dir, const std::string& path, const std::string& text);

// Renames staged files into place, in order, calls `renamed` (the files now agree on disk), and
// then syncs the folders that changed; the staged files are consumed. On a failure the files
// not yet renamed are removed.
Status CommitFiles(const std::string& dir, std::vector<StagedFile>& staged, const std::function<void()>& renamed = {});
// Removes staged files that are not to be used.
void DiscardFiles(std::vector<StagedFile>& staged);
// Removes staged files an earlier run left behind when it was killed.
void RemoveLeftoverFiles(const std::string& dir);

// Writes `text` to `dir`/`path` (relative) in one step: staged, then renamed into place.
::Result<WrittenFile> WriteTextFile(const std::string& dir, const std::string& path, const std::string& text);

// What the file system holding `path` has free for this user, in bytes; none when not known.
std::optional<std::uint64_t> FreeBytes(const std::string& path);
// " (12.3 MB left on the disk)", for a message about a write that failed; "" when not known.
std::string SpaceLeftText(const std::string& path);

// A small file's content; "" when it cannot be read.
std::string ReadText(const std::string& path);

// The value of `key` in bag-info text ("Key: value" lines); "" when it is not there.
std::string BagInfoValue(const std::string& bagInfo, const std::string& key);

// The SHA-256 of a file's content.
::Result<std::string> HashFile(const std::string& path);

}  // namespace archive
