// Archiving a tape as a sound archive keeps it: one pass over the tape at the drive's full
// speed, every frame kept in data/tape.dat, a Broadcast WAVE file per program, the subcode
// log, an error map, a retry pass over the damaged places, and a BagIt package with SHA-256
// manifests. Whatever ends the pass (a stop, a lost drive, a full disk, too many bad frames),
// the package is left valid and marked incomplete, and a later run can resume it.
//
//   archive::Options o{.dir = "tape-07"};
//   const archive::Result r = archive::Run(o, [](const archive::Progress& p) { ... });
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace archive {

struct Options {
    std::string dir;        // new or empty; with `resume`, an incomplete package
    bool fromHere = false;  // read from where the tape is instead of rewinding
    bool resume = false;
    unsigned retries = 1;   // rounds of the retry pass; 0: none
    // Places where the main pass may locate past damage after the bad-frame limit; at the
    // next such place the pass ends there.
    unsigned maxSkips = 10;
    std::string label{};    // the cassette's label and identifier (see CheckCassetteText); "" none,
    std::string id{};       // or on a resume, those of the earlier run
};

struct Progress {
    // "measuring" (the recorded length), "reading", "retrying", "writing the package"
    const char* phase = "reading";
    std::string absoluteTime;       // of the last frame kept ("" before one)
    std::string program;            // "program 2", "lead-in", ""
    std::uint64_t frames = 0;       // frames in tape.dat
    std::uint64_t tapeBytes = 0;
    std::uint64_t unreadable = 0, concealed = 0;
    double audioSeconds = 0;        // of the frames read in this run
    // The recorded area's length, found before the pass, in tape frames from the beginning of
    // the tape (0: not known, as on a pass from where the tape stands), and where the pass
    // stands in the same count.
    std::uint64_t recordedFrames = 0;
    std::uint64_t tapeFrame = 0;
    double recordedSeconds = 0;  // that length as playing time
    double probeSeconds = -1;    // how long finding it took (-1: not tried)
};

enum class Outcome {
    Clean,       // complete, every frame read clean (or recovered)
    WithErrors,  // complete, with frames unreadable or concealed
    Incomplete,  // the pass ended early; the package says why
    Refused,     // nothing was started (message says why)
};

struct Result {
    Outcome outcome = Outcome::Refused;
    std::string message;               // the refusal, or why the package is incomplete
    std::vector<std::string> summary;  // lines for the person who ran it
    std::size_t failures = 0;          // files of the package that could not be written
};

// "" when `dir` can take a new package (or, with `resume`, holds an incomplete one), else a
// message saying why not. Nothing is created.
std::string CheckTarget(const std::string& dir, bool resume);

// "" when `text` can be the cassette's label (`id` false) or identifier, else why not: one
// line of printable text, an identifier at most 32 bytes (the WAVs' OriginatorReference).
std::string CheckCassetteText(const std::string& text, bool id);

// Archives the tape in the selected drive. The drive must be ready with an audio tape.
// `progress` is called now and then on this thread.
Result Run(const Options& options, const std::function<void(const Progress&)>& progress = {});

// Ends a running archive at the next frame (a signal handler or Cancel, on the program's
// thread while Run waits for the drive). The package is finished as incomplete.
void RequestStop();

}  // namespace archive
