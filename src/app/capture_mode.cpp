// --capture: start-up discovery without a window, the wait for a ready audio tape, then the
// tape's audio into a WAV file until the end of the recorded area or Ctrl-C, with one
// progress line on stderr.
#include <QCoreApplication>
#include <cstdio>
#include <optional>
#include <set>
#include <string>

#include "app/progress_line.h"
#include "app/run_modes.h"
#include "app/tape_wait.h"
#include "audio/capture.h"
#include "audio/frame_reader.h"
#include "dat/audio_format.h"
#include "dat/time_code.h"
#include "audio/playback.h"
#include "platform/ui/message_box.h"
#include "platform/ui/termination_signals.h"

namespace {

constexpr int kExitFailure = 1;
constexpr int kExitWithUnreadableFrames = 3;

// "programs 1-3, 5", "no program numbers".
std::string ProgramsText(const std::set<unsigned>& programs)
{
    if (programs.empty())
        return "no program numbers";
    std::string out;
    auto it = programs.begin();
    while (it != programs.end()) {
        const unsigned first = *it;
        unsigned last = first;
        while (++it != programs.end() && *it == last + 1)
            last = *it;
        if (!out.empty())
            out += ", ";
        out += std::to_string(first) + (last != first ? "-" + std::to_string(last) : "");
    }
    return (programs.size() == 1 ? "program " : "programs ") + out;
}

// The capture's progress line and its summary.
class CaptureProgress {
public:
    explicit CaptureProgress(std::string path)
        : path_(std::move(path)), line_(ProgressLine::First::AfterInterval, "   ")
    {
    }

    void update(std::uint64_t frames, std::uint64_t audioBytes)
    {
        frames_ = frames;
        bytes_ = audioBytes + 44;
        if (line_.Due())
            line_.Show(text());
    }

    void summary(CaptureResult result)
    {
        line_.End();
        const char* how = result == CaptureResult::EndOfTape ? "end of the recorded area"
                          : result == CaptureResult::Stopped ? "stopped"
                                                             : "not complete";
        std::fprintf(stderr, "Captured %s into %s (%s).\n", text().c_str(), path_.c_str(), how);
        const ReadReport& r = FramePassReport();
        if (r.frames == 0)
            return;
        std::string tape = "Tape: " + r.rateText + (r.emphasis ? ", emphasis 50/15 us" : ", no emphasis");
        tape += ", " + ProgramsText(r.programs);
        if (r.firstTime && r.lastTime)
            tape += ", absolute time " + dat::FormatHmsf(*r.firstTime) + " to " + dat::FormatHmsf(*r.lastTime);
        tape += ", " + std::to_string(r.concealed.count) + " concealed frames.";
        std::fprintf(stderr, "%s\n", tape.c_str());
        if (r.format && r.format->NonLinear()) {
            // 12-bit frames: how they were unpacked, and how the tape's clock ran.
            std::string lp = std::string(r.format->channels == 4 ? "Four channels" : "Long play") +
                             ", 12-bit samples written as 16-bit, layout " +
                             (r.layout ? r.layout->Text() : std::string("a (not decided)")) + ".";
            if (r.format->channels == 2 && r.timeStep > 0)
                lp += r.timeStep == 1
                          ? " Time code: one code frame per 60 ms frame (the counters show half the real time)."
                          : " Time code: two code frames per 60 ms frame (real time).";
            std::fprintf(stderr, "%s\n", lp.c_str());
        }
        if (r.unreadable.count > 0)
            std::fprintf(stderr, "Unreadable: %llu frames, written as silence: %s\n",
                         static_cast<unsigned long long>(r.unreadable.count), r.unreadable.text().c_str());
        if (r.concealed.count > 0)
            std::fprintf(stderr, "Concealed: %llu frames, written as the drive gave them: %s\n",
                         static_cast<unsigned long long>(r.concealed.count), r.concealed.text().c_str());
    }

private:
    std::string text() const
    {
        // Every frame of a capture lasts as the first one did (standard play before one came).
        const std::optional<dat::AudioFormat>& format = FramePassReport().format;
        const double frameSeconds = (format ? *format : dat::FormatOf(dat::MainId{}).value()).Seconds();
        const double audioSeconds = static_cast<double>(frames_) * frameSeconds;
        const double elapsed = line_.ElapsedSeconds();
        char line[160];
        std::snprintf(line, sizeof line, "%llu frames, %.2f min of audio, %.1f MB, %.1fx real time",
                      static_cast<unsigned long long>(frames_), audioSeconds / 60.0,
                      static_cast<double>(bytes_) / 1e6, elapsed > 0 ? audioSeconds / elapsed : 0.0);
        return line;
    }

    std::string path_;
    ProgressLine line_;
    std::uint64_t frames_ = 0;
    std::uint64_t bytes_ = 44;
};

// The capture of a ready audio tape, after the session's wait.
class CaptureSession final : public TapeSession {
public:
    explicit CaptureSession(std::string path) : TapeSession("capture", "captured"), path_(std::move(path)) {}

private:
    void work() override
    {
        CaptureProgress progress(path_);
        SetCaptureProgressHandler([&](std::uint64_t frames, std::uint64_t bytes) { progress.update(frames, bytes); });
        std::fprintf(stderr, "Capturing the tape's audio into %s (Ctrl-C stops)...\n", path_.c_str());
        SetAudioMessageHandler([](const std::string& text) { ui::ShowMessage(text); });
        const CaptureResult result = RunCapture(path_);
        SetCaptureProgressHandler({});
        progress.summary(result);
        // 0 only when the whole recorded area is in the file; 3 when it is, with frames that
        // could not be read; a stop or a failure leaves it incomplete.
        if (result != CaptureResult::EndOfTape)
            return end(kExitFailure);
        end(FramePassReport().unreadable.count > 0 ? kExitWithUnreadableFrames : 0);
    }

    void stopWork() override
    {
        ui::EndOnNextSignal();  // a second Ctrl-C does not wait for the stop
        StopPlayback();
    }

    std::string path_;
};

}  // namespace

int RunCaptureMode(const Options& options)
{
    SetMaxBadFrames(options.maxBadFrames);
    SetNonLinearLayout(options.lpLayout);
    CaptureSession session(options.captureFile);
    return session.run();
}
