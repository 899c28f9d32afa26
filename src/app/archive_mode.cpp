// --archive=DIR: start-up discovery without a window, the wait for a ready audio tape, then
// the tape into an archive package, with one progress line on stderr and a summary.
#include <QCoreApplication>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>

#include "app/progress_line.h"
#include "app/run_modes.h"
#include "app/tape_wait.h"
#include "archive/archive.h"
#include "archive/progress_estimate.h"
#include "audio/frame_reader.h"

namespace {

constexpr int kExitFailure = 1;
constexpr int kExitWithErrors = 3;

// The archive's progress: where on the tape, how much, how fast, how many bad frames, and
// once the recorded length is known, how far and how long still.
std::string ProgressText(const archive::Progress& p, double elapsed, const archive::ProgressEstimate& estimate)
{
    char line[240];
    std::snprintf(line, sizeof line, "%s: %s%s%s, %.1f MB, %.1fx real time, %llu unreadable, %llu concealed", p.phase,
                  p.absoluteTime.empty() ? "-:--:--" : p.absoluteTime.c_str(), p.program.empty() ? "" : " ",
                  p.program.c_str(), static_cast<double>(p.tapeBytes) / 1e6, elapsed > 0 ? p.audioSeconds / elapsed : 0.0,
                  static_cast<unsigned long long>(p.unreadable), static_cast<unsigned long long>(p.concealed));
    std::string text = line;
    if (const std::optional<double> f = estimate.Fraction(); f && std::strcmp(p.phase, "reading") == 0)
        text += ", " + std::to_string(static_cast<int>(*f * 100)) + " %";
    if (const std::optional<double> left = estimate.SecondsLeft())
        text += ", " + archive::DurationText(*left) + " left";
    return text;
}

// The archive of a ready audio tape, after the session's wait. A signal ends a running archive
// at the next frame and leaves an incomplete package; a second one waits for that too, so
// every file is left valid.
class ArchiveSession final : public TapeSession {
public:
    explicit ArchiveSession(const Options& options) : TapeSession("archive", "archived"), options_(options) {}

private:
    void work() override
    {
        archive::Options o;
        o.dir = options_.archiveDir;
        o.fromHere = options_.fromHere;
        o.resume = options_.resume;
        o.retries = options_.retries;
        o.maxSkips = options_.maxSkips;
        o.label = options_.label;
        o.id = options_.id;
        ProgressLine progress(ProgressLine::First::AtOnce, "\033[K");
        std::fprintf(stderr, "%s the tape into %s (Ctrl-C stops and leaves an incomplete package)...\n",
                     o.resume ? "Resuming the archive of" : "Archiving", o.dir.c_str());
        archive::ProgressEstimate estimate;
        const archive::Result r = archive::Run(o, [&](const archive::Progress& p) {
            estimate.Add(p, progress.ElapsedSeconds());
            if (progress.Due())
                progress.Show(ProgressText(p, progress.ElapsedSeconds(), estimate));
        });
        progress.End();
        if (r.outcome == archive::Outcome::Refused) {
            std::fprintf(stderr, "vantrel: %s\n", r.message.c_str());
            return end(kExitFailure);
        }
        for (const std::string& line : r.summary)
            std::fprintf(stderr, "%s\n", line.c_str());
        switch (r.outcome) {
        case archive::Outcome::Clean: return end(0);
        case archive::Outcome::WithErrors: return end(kExitWithErrors);
        default: return end(kExitFailure);
        }
    }

    void stopWork() override { archive::RequestStop(); }

    Options options_;
};

}  // namespace

int RunArchiveMode(const Options& options)
{
    // A folder that cannot take the package is refused before anything waits for the drive.
    const std::string refusal = archive::CheckTarget(options.archiveDir, options.resume);
    if (!refusal.empty()) {
        std::fprintf(stderr, "vantrel: %s\n", refusal.c_str());
        return kExitFailure;
    }
    // A file-size limit (RLIMIT_FSIZE, or a file system's largest file) is a write error the
    // archive handles like a full disk, rather than a signal that ends the process mid-file.
    std::signal(SIGXFSZ, SIG_IGN);
    SetMaxBadFrames(options.maxBadFrames);
    SetNonLinearLayout(options.lpLayout);
    ArchiveSession session(options);
    return session.run();
}
