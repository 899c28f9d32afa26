// --record=FILE...: the files read and checked before anything else, start-up discovery
// without a window, the wait for a ready tape, then the files onto the tape with one progress
// line on stderr, and the tape read back and compared unless --no-verify.
#include <QCoreApplication>
#include <cstdio>
#include <optional>
#include <string>

#include "app/progress_line.h"
#include "app/run_modes.h"
#include "app/tape_wait.h"
#include "audio/recorder.h"
#include "platform/ui/termination_signals.h"

namespace {

constexpr int kExitFailure = 1;
constexpr int kExitNotClean = 3;

std::string MinutesText(double seconds)
{
    const auto whole = static_cast<long long>(seconds + 0.5);
    char text[32];
    std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", whole / 3600, whole / 60 % 60, whole % 60);
    return text;
}

std::string ProgressText(const RecordProgress& p, double elapsed)
{
    char line[240];
    const std::string at = p.place.rfind("program", 0) == 0 ? p.place + " " + dat::FormatHms(p.absolute) : p.place;
    std::snprintf(line, sizeof line, "%s: %s, %.1f MB, %.1fx real time", p.verifying ? "Verifying" : "Recording",
                  at.empty() ? "-" : at.c_str(), static_cast<double>(p.bytes) / 1e6,
                  elapsed > 0 ? p.audioSeconds / elapsed : 0.0);
    std::string text = line;
    if (p.verifying)
        text += ", " + std::to_string(p.mismatches) + " mismatched, " + std::to_string(p.unreadable) + " unreadable";
    return text;
}

class RecordSession final : public TapeSession {
public:
    RecordSession(RecordPlan plan, const Options& options)
        : TapeSession("recording", "written"), recorder_(std::move(plan)), options_(options)
    {}

private:
    bool takesAnyTape() const override { return true; }

    void work() override
    {
        const RecordPlan& plan = recorder_.Plan();
        std::fprintf(stderr,
                     "Recording %zu %s (%s, %.1f kHz%s) onto the tape (Ctrl-C stops and writes the lead-out)...\n",
                     plan.Programs().size(), plan.Programs().size() == 1 ? "program" : "programs",
                     MinutesText(plan.ProgramSeconds()).c_str(), plan.Rate() / 1000.0,
                     plan.Settings().emphasis ? ", emphasis" : "");
        const std::string refusal = recorder_.Prepare(options_.overwrite);
        if (!refusal.empty()) {
            std::fprintf(stderr, "vantrel: %s\n", refusal.c_str());
            return end(kExitFailure);
        }
        if (stopped_) {
            std::fprintf(stderr, "vantrel: stopped before the recording began; nothing was written.\n");
            return end(kExitFailure);
        }
        ProgressLine line(ProgressLine::First::AtOnce, "\033[K");
        while (recorder_.Step())
            if (line.Due())
                line.Show(ProgressText(recorder_.Progress(), line.ElapsedSeconds()));
        line.End();
        const RecordProgress& written = recorder_.Progress();
        std::fprintf(stderr, "Wrote %llu frames (%.1f MB) in %.1f s.\n",
                     static_cast<unsigned long long>(written.frames), static_cast<double>(written.bytes) / 1e6,
                     line.ElapsedSeconds());
        if (recorder_.State() != RecordState::Done) {
            std::fprintf(stderr, "vantrel: %s\n", recorder_.Message().c_str());
            return end(kExitFailure);
        }
        std::fprintf(stderr, "Recorded %zu %s up to absolute time %s, then the lead-out.\n", plan.Programs().size(),
                     plan.Programs().size() == 1 ? "program" : "programs",
                     dat::FormatHms(recorder_.ReachedTime()).c_str());
        if (!options_.verify)
            return end(0);
        verifying_ = true;
        std::fprintf(stderr, "Verifying: reading the tape back (Ctrl-C stops)...\n");
        recorder_.BeginVerify();
        ProgressLine verifyLine(ProgressLine::First::AtOnce, "\033[K");
        while (recorder_.VerifyStep())
            if (verifyLine.Due())
                verifyLine.Show(ProgressText(recorder_.Progress(), verifyLine.ElapsedSeconds()));
        verifyLine.End();
        for (const std::string& text : recorder_.Result().Lines())
            std::fprintf(stderr, "%s\n", text.c_str());
        end(recorder_.Result().Clean() ? 0 : kExitNotClean);
    }

    void stopWork() override
    {
        ui::EndOnNextSignal();  // a second Ctrl-C does not wait for the lead-out
        stopped_ = true;
        if (verifying_)
            recorder_.StopVerify();
        else
            recorder_.Stop();
    }

    TapeRecorder recorder_;
    Options options_;
    bool stopped_ = false;
    bool verifying_ = false;
};

}  // namespace

int RunRecordMode(const Options& options)
{
    RecordSettings settings;
    settings.emphasis = options.emphasis;
    settings.startIdSeconds = options.startIdSeconds;
    settings.date = options.recordDate.value_or(dat::LocalNow());
    settings.gapSeconds = options.gapSeconds;
    // Every file is read and checked before the drive is even looked for.
    std::string error;
    std::optional<RecordPlan> plan = RecordPlan::FromFiles(options.recordFiles, settings, error);
    if (!plan) {
        std::fprintf(stderr, "vantrel: %s\n", error.c_str());
        return kExitFailure;
    }
    RecordSession session(std::move(*plan), options);
    return session.run();
}
