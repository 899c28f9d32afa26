// An archive package on disk: data/tape.dat (every frame kept, 5822 bytes each), its running
// SHA-256, and what is known of each frame. Created empty or loaded from an earlier run
// (complete or not), grown frame by frame, patched where a frame was read again, and finished
// into the WAV files, the subcode log, the reports and the BagIt files. It needs no drive:
// a tool can open two packages and write a third.
//
//   ::Result<archive::Package> p = archive::Package::Load("tape-07");
//   if (!p) ...p.error()...
//   if (Status s = p->Append(bytes, archive::RecordOf(frame)); !s) ...
//   const archive::Result r = p->Finish(run);
#pragma once

#include <QDateTime>
#include <cstdint>
#include <map>
#include <memory>
#include <nlohmann/json_fwd.hpp>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "archive/archive.h"
#include "archive/merge_facts.h"
#include "archive/package_io.h"
#include "archive/records.h"
#include "audio/frame_reader.h"
#include "dat/frame.h"
#include "platform/io/result.h"
#include "platform/io/unique_fd.h"
#include "transport/drive_identity.h"

namespace archive {

struct ReportFacts;
struct Totals;

// A place where the main pass met the bad-frame limit and located past the damage by
// absolute time, a second further each time until a frame read.
struct SkippedStretch {
    std::int64_t first = -1;        // absolute frame index of the first frame not read
    std::int64_t last = -1;         // of the last frame passed over; -1: nothing read after it
    std::uint64_t failedReads = 0;  // reads that failed there
    unsigned locates = 0;           // locates it took
    bool operator==(const SkippedStretch&) const = default;
};

// What Finish is told of the run that filled the package.
struct RunFacts {
    DriveIdentity drive;        // empty fields: the drive did not report itself
    bool complete = false;      // the pass reached the end of the recorded area
    std::string reason;         // why not
    unsigned retries = 0;       // rounds of the retry pass asked for
    unsigned retryRounds = 0;   // rounds run
    std::size_t retryPlaces = 0;
    std::vector<std::string> retryNotes;
    double readSeconds = 0;     // of tape read in this run's main pass
    std::uint64_t framesRead = 0;  // reads of this run's main pass, failed ones too
    std::vector<SkippedStretch> skips;  // places the main pass located past, in tape order
    // A stop after the end of the recorded area was found: where ("lead-out", "retry pass"),
    // so that a resume reads the rest of the lead-out and does the retries still owed.
    std::string stoppedIn;
    std::string label, id;      // the cassette's, as given (--label, --id); "" none
    std::int64_t readMs = 0;    // how long that took
    MergeFacts merge;           // a package merged from other packages: what they gave
};

// One run that worked on the package: a resumed package lists each.
struct RunRecord {
    std::string start, end;        // "2025-06-07T08:09:10Z"
    std::int64_t framesRead = -1;  // reads of its main pass; -1: not known (an older report)
    double speed = 0;              // of its main pass, as a multiple of real time
};

// A frame the retry pass read clean: its position and what it was before.
using Recovery = std::pair<std::size_t, FrameState>;

class Package {
public:
    // A new package in `dir` (a new or empty folder). From its creation on, the folder is a valid
    // bag marked incomplete ("interrupted"): frames are kept in memory and written to tape.dat
    // at checkpoints (every few seconds of tape and at each program's end), together with the
    // WAV files of the programs that have ended and the text and bag files, each written whole
    // under a temporary name, synced and renamed into place. A run killed at any moment leaves
    // the package as its last checkpoint wrote it, for a resume to continue.
    static ::Result<Package> Create(const std::string& dir);
    // The package in `dir` as an earlier run left it: a frame cut short is dropped, the
    // records and the hash are rebuilt from tape.dat, and the frames recovered on a reread
    // are taken back from data/report.json.
    static ::Result<Package> Load(const std::string& dir);
    // The package in `dir` to read from only, as a source of a merge: nothing in the folder
    // is changed (a frame cut short at the end is left out of the records, not cut off), and
    // a missing data/report.json only loses the frames recovered on a reread.
    static ::Result<Package> OpenReadOnly(const std::string& dir);

    Package(Package&&) noexcept;
    Package& operator=(Package&&) noexcept;
    ~Package();

    // Keeps a frame (dat::kFrameBytes bytes) at the end of tape.dat. On a failure nothing of
    // it stays in the file, and the message is the package's reason to be incomplete.
    Status Append(const std::uint8_t* frame, const FrameRecord& record);
    // Frames the drive could not deliver: zeros at their place, from `firstAbsolute` on
    // (-1: not known).
    // `step`: time-code frames one tape frame advances.
    Status AppendLost(std::uint32_t count, std::int64_t firstAbsolute, unsigned step = 1);
    // Puts a frame read clean again at `position`, in place of a bad one.
    Status Patch(std::size_t position, const std::uint8_t* frame, const FrameRecord& record);
    // Drops every frame, for a pass that starts again from the beginning.
    Status Restart();
    // Writes everything still owed from the frames kept, and says what the package came to.
    Result Finish(const RunFacts& run);

    // What checkpoints say of the run while it goes on (the drive, the cassette, the retries
    // asked for); they mark the package incomplete, interrupted.
    void SetRunFacts(const RunFacts& run) { checkpointRun_ = run; }
    // Where a run killed now would leave work owed past the recorded area ("lead-out",
    // "retry pass", ""): what the next checkpoint records for a resume.
    void SetPhase(const std::string& stoppedIn);
    // Writes the frames kept so far to tape.dat and brings the package's files up to them. On
    // a failure (a full disk) the package stays as the last checkpoint left it, the frames
    // kept since then are dropped, and the message names the file and the space left.
    Status Checkpoint();

    // The frame at `position` as tape.dat holds it (dat::kFrameBytes bytes), or its first
    // `bytes` bytes.
    Status ReadFrame(std::size_t position, std::uint8_t* out, std::size_t bytes = dat::kFrameBytes) const;
    // The SHA-256 of tape.dat as it is on disk.
    ::Result<std::string> TapeSha256();

    const std::string& dir() const { return dir_; }
    const std::vector<FrameRecord>& records() const { return records_; }
    const std::vector<Recovery>& recovered() const { return recovered_; }
    std::uint64_t unreadable() const { return unreadable_; }
    std::uint64_t concealed() const { return concealed_; }
    // When the package was begun: now, or the first run's start for a loaded one.
    const QDateTime& started() const { return started_; }
    // What an earlier run left undone after the recorded area ("lead-out", "retry pass", "").
    const std::string& stoppedIn() const { return stoppedIn_; }
    // The cassette's label and identifier an earlier run was given.
    const std::string& label() const { return label_; }
    const std::string& id() const { return id_; }
    // The places earlier runs located past, as their report lists them.
    const std::vector<SkippedStretch>& earlierSkips() const { return skips_; }
    // The places this run has located past so far (the earlier runs' first), for the checkpoints.
    void SetSkips(const std::vector<SkippedStretch>& skips) { checkpointRun_.skips = skips; }
    const std::vector<SkippedStretch>& checkpointSkips() const { return checkpointRun_.skips; }

    // How Finish reads the size of each WAV file it wrote (a test makes it fail).
    void SetFileSizeReader(FileSizeReader reader) { sizeOf_ = std::move(reader); }

private:
    explicit Package(std::string dir);
    static ::Result<Package> Open(const std::string& dir, bool existing, bool readOnly = false);
    static ::Result<Package> Load(const std::string& dir, bool readOnly);
    // A WAV file on disk as a checkpoint left it: what it was made from, and its entry.
    struct WavOnDisk {
        std::string made;  // "" when not known (a file of an earlier run)
        WrittenFile file;
    };

    void TakeReport(const nlohmann::json& report);
    Status LoadFrames();
    void LoadWavEntries();
    void Count(const FrameRecord& record, int delta);
    void Recount();
    Status RebuildHash();
    Status Flush();
    void DropUnflushed();
    ::Result<WrittenFile> TapeDatFile();
    std::optional<LayoutChoice> ChooseLayout() const;
    bool ProgramEnds(const FrameRecord& record);
    Result Write(const RunFacts& run, bool final);
    Result Summary(const ReportFacts& f, const Totals& t, std::size_t wavs,
                   const std::vector<std::string>& failures) const;

    std::string dir_;
    UniqueFd tape_;
    Sha256 hash_;           // of tape.dat with the frames kept since the last checkpoint
    bool rehash_ = false;   // frames changed in place or dropped: hash_ is to be taken again
    bool ragged_ = false;   // part of a frame that failed to be written could not be cut off
    bool readOnly_ = false;  // a merge's source: never written
    std::size_t flushed_ = 0;                                   // frames in tape.dat
    std::vector<std::uint8_t> unflushed_;                       // the frames kept after them
    std::map<std::size_t, std::vector<std::uint8_t>> patches_;  // frames read again, for tape.dat
    std::size_t sinceCheckpoint_ = 0;
    int lastProgram_ = -1;                   // of the last readable frame, for a program's end
    std::map<std::string, WavOnDisk> wavs_;  // by name
    RunFacts checkpointRun_;
    std::vector<FrameRecord> records_;
    std::vector<Recovery> recovered_;
    std::uint64_t unreadable_ = 0, concealed_ = 0;
    QDateTime started_;
    std::string stoppedIn_;
    std::string label_, id_;
    std::vector<SkippedStretch> skips_;  // the earlier runs'
    std::vector<RunRecord> runs_;  // the earlier runs
    QDateTime runStarted_;         // this run's start
    FileSizeReader sizeOf_;
};

}  // namespace archive
