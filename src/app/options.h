// The command line: which drives to talk to and what to run.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "dat/frame_builder.h"
#include "dat/nonlinear.h"

struct Options {
    bool simulate = false;
    std::string simulateFile;      // --simulate=FILE; empty: the built-in demo bus
    bool console = false;          // --console
    std::string traceFile;         // --scsi-trace=FILE
    std::string audioDevice = "default";  // --audio-device=NAME
    bool scan = false;             // --scan
    bool capture = false;          // --capture[=FILE]
    std::string captureFile = "Audio48.wav";
    bool archive = false;          // --archive=DIR
    std::string archiveDir;
    bool fromHere = false;         // --from-here: archive from where the tape is
    bool resume = false;           // --resume: continue an incomplete package
    unsigned retries = 1;          // --retries=N: rounds of the archive's retry pass
    unsigned maxSkips = 10;        // --max-skips=N: damaged places the archive locates past
    std::string label, id;         // --label=TEXT, --id=TEXT: the cassette's, for the package
    std::uint32_t maxBadFrames = 100;  // --max-bad-frames=N: failed reads in a row that end a pass
    std::optional<dat::NonLinearLayout> lpLayout;  // --lp-layout=a|b|...; none (auto): found from the sound
    std::vector<std::string> mergeDirs;  // --merge=DIR, repeated: packages merged into --archive=DIR
    bool force = false;                  // --force: merge packages that do not match
    std::vector<std::string> recordFiles;     // --record=FILE, repeated: one program each, in order
    bool emphasis = false;                    // --emphasis: the tape says 50/15 us
    unsigned startIdSeconds = 9;              // --start-id-seconds=N (9 or more)
    std::optional<dat::DateTime> recordDate;  // --date=YYYY-MM-DDTHH:MM:SS; none: the time of recording
    double gapSeconds = 0;                    // --gap=SECONDS: silence after every program but the last
    bool overwrite = false;                   // --overwrite: record over a tape that is not blank
    bool verify = true;                       // --no-verify: skip the read-back
};

struct ParseOutcome {
    enum Kind { Run, Help, Version, Error } kind = Run;
    Options options;
    std::string text;  // help, version or error text
};

// Parses argv (argv[0] included). Unknown switches, stray arguments and missing values give
// Error with a message that names them.
ParseOutcome ParseCommandLine(const std::vector<std::string>& args);

// "YYYY-MM-DDTHH:MM:SS" (or a space for the T) that is a real date and time; nullopt otherwise.
std::optional<dat::DateTime> ParseDateTime(const std::string& text);

// The arguments less Qt's own command-line options (-style fusion, -stylesheet=FILE,
// -platform xcb, -reverse, ...; one dash or two), which the application object takes.
std::vector<std::string> WithoutQtOptions(const std::vector<std::string>& args);
