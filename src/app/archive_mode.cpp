// --archive=DIR: start-up discovery without a window, the wait for a ready audio tape, then
// the tape into an archive package, with one progress line on stderr and a summary.
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTimer>
#include <csignal>
#include <cstdio>
#include <string>
#include <unistd.h>

#include "app/run_modes.h"
#include "app/tape_wait.h"
#include "app/windowless_startup.h"
#include "audio/archive.h"
#include "audio/frame_reader.h"
#include "platform/ui/termination_signals.h"
#include "tape/unit_mode.h"
#include "transport/basic_text.h"
#include "transport/drive_state.h"
#include "transport/startup.h"

namespace {

constexpr int kExitFailure = 1;
constexpr int kExitWithErrors = 3;

// The one progress line: rewritten in place on a terminal, a line now and then otherwise.
class ProgressLine {
public:
    ProgressLine() : tty_(::isatty(STDERR_FILENO) == 1) { clock_.start(); }

    void update(const archive::Progress& p)
    {
        const qint64 now = clock_.elapsed();
        if (now - shownAt_ < (tty_ ? 250 : 10000))
            return;
        shownAt_ = now;
        const double elapsed = static_cast<double>(now) / 1000.0;
        char line[240];
        std::snprintf(line, sizeof line, "%s: %s%s%s, %.1f MB, %.1fx real time, %llu unreadable, %llu concealed",
                      p.phase, p.absoluteTime.empty() ? "-:--:--" : p.absoluteTime.c_str(),
                      p.program.empty() ? "" : " ", p.program.c_str(), static_cast<double>(p.tapeBytes) / 1e6,
                      elapsed > 0 ? p.audioSeconds / elapsed : 0.0, static_cast<unsigned long long>(p.unreadable),
                      static_cast<unsigned long long>(p.concealed));
        std::fprintf(stderr, tty_ ? "\r%s\033[K" : "%s\n", line);
        shown_ = true;
    }

    void end()
    {
        if (tty_ && shown_)
            std::fputc('\n', stderr);
    }

private:
    bool tty_;
    QElapsedTimer clock_;
    qint64 shownAt_ = -100000;
    bool shown_ = false;
};

// Waits for the drive to be ready with an audio tape, then archives. Driven by the event loop.
class ArchiveSession {
public:
    explicit ArchiveSession(const Options& options) : options_(options) {}

    void poll()
    {
        if (interrupted_)
            return end(kExitFailure);
        const std::int32_t code = TestUnitReady(AspiAdapter, AspiTarget);
        if (interrupted_)
            return end(kExitFailure);
        switch (wait_.after(code)) {
        case TapeWait::Next::Ready:
            return archiveTape();
        case TapeWait::Next::GiveUp:
            std::fprintf(stderr, "vantrel: the drive did not become ready within a minute; nothing was archived.\n");
            return end(kExitFailure);
        case TapeWait::Next::PollAgain:
            QTimer::singleShot(wait_.delayMs(), [this] { poll(); });
            return;
        }
    }

    // SIGINT, SIGTERM, SIGHUP: a running archive ends at the next frame and leaves an
    // incomplete package; before it, nothing starts.
    void interrupt()
    {
        if (archiving_) {
            archive::RequestStop();
            return;
        }
        ui::EndOnNextSignal();  // nothing written yet: a second Ctrl-C need not wait for discovery
        if (!interrupted_)
            std::fprintf(stderr, "vantrel: interrupted before the archive began; nothing was archived.\n");
        interrupted_ = true;
        QCoreApplication::exit(kExitFailure);
    }

    bool interrupted() const { return interrupted_; }

private:
    void archiveTape()
    {
        const std::uint8_t density = GetDensityCode(AspiAdapter, AspiTarget);
        if (density != AudioDensity) {
            std::fprintf(stderr,
                         "vantrel: the drive is not in audio mode with an audio tape (density code %sH, audio "
                         "is 80H): a data tape cannot be archived. Nothing was archived.\n",
                         HexText(density).c_str());
            return end(kExitFailure);
        }
        archive::Options o;
        o.dir = options_.archiveDir;
        o.fromHere = options_.fromHere;
        o.resume = options_.resume;
        o.retries = options_.retries;
        ProgressLine progress;
        archiving_ = true;
        std::fprintf(stderr, "%s the tape into %s (Ctrl-C stops and leaves an incomplete package)...\n",
                     o.resume ? "Resuming the archive of" : "Archiving", o.dir.c_str());
        const archive::Result r = archive::Run(o, [&](const archive::Progress& p) { progress.update(p); });
        archiving_ = false;
        progress.end();
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

    void end(int status)
    {
        if (ended_)
            return;
        ended_ = true;
        QCoreApplication::exit(status);
    }

    Options options_;
    TapeWait wait_;
    bool archiving_ = false;
    bool interrupted_ = false;
    bool ended_ = false;
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
    ArchiveSession session(options);
    ui::CatchTerminationSignals([&](int) { session.interrupt(); });
    WindowlessStartup how;
    how.interrupted = [&] { return session.interrupted(); };  // Ctrl-C stops discovery too
    how.waitWhileBecomingReady = true;  // a tape just inserted: the drive answers 04/01 for a while
    how.waitMs = TapeWait::kLimitMs;
    const int discovery = RunWindowlessStartup(how);
    if (discovery != 0 || session.interrupted()) {
        ui::ReleaseTerminationSignals();
        return discovery != 0 && !session.interrupted() ? discovery : kExitFailure;
    }
    QTimer::singleShot(0, [&] { session.poll(); });
    const int status = QCoreApplication::exec();
    ui::ReleaseTerminationSignals();
    return status;
}
