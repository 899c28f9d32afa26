#include "audio/capture.h"

#include <optional>
#include <vector>

#include "audio/frame_reader.h"
#include "audio/playback.h"

namespace {

// Ends the capture with a message, told after the stop has finished the file.
CaptureResult Fail(CaptureResult result, const std::string& message)
{
    StopPlayback();
    TellAudioMessage(message);
    return result;
}

// "32 kHz long play", "32 kHz four channels", "32 kHz".
std::string FormatText(const dat::AudioFormat& f)
{
    std::string text =
        std::to_string(f.rate / 1000) + (f.rate % 1000 ? "." + std::to_string(f.rate % 1000 / 100) : "") + " kHz";
    if (f.NonLinear())
        text += f.channels == 4 ? " four channels" : " long play";
    return text;
}

CaptureResult Appended(WavWriter::AppendResult appended)
{
    switch (appended) {
    case WavWriter::AppendResult::Written: return CaptureResult::Stopped;  // not an end
    case WavWriter::AppendResult::SizeLimit: return CaptureResult::SizeLimit;
    case WavWriter::AppendResult::FileError: return CaptureResult::FileError;
    }
    return CaptureResult::FileError;
}

}  // namespace

CaptureResult RunCapture(const std::string& path)
{
    if (CaptureLoopRunning())
        return CaptureResult::NotStarted;
    // A capture started while playback runs ends the playback first; the capture then
    // reads on from where the tape is.
    if (PlayActive || StartPending())
        StopPlayback();
    BeginCaptureLoop(true);
    BeginFramePass();
    if (!OpenCaptureFile(path)) {
        BeginCaptureLoop(false);
        return CaptureResult::FileError;
    }
    PlayActive = true;
    CaptureResult result = CaptureResult::Stopped;
    std::optional<dat::AudioFormat> format;  // of the file, once the first frame has told it
    std::vector<std::uint8_t> silence;
    while (PlayActive) {
        const FrameRead r = ReadNextFrame();
        if (!PlayActive)
            break;  // a stop arrived during the read: that frame is not written
        if (r.Failed()) {
            result = Fail(CaptureResult::ReadFailed, r.message);
            break;
        }
        const bool end = r.status == FrameStatus::EndOfTape;
        if (!end && !r.Delivered())
            continue;  // the next frame that reads tells how many were lost
        if (!end) {
            if (!format) {
                format = r.format;
                SetCaptureFileFormat(*format);
            } else if (*r.format != *format) {
                // A WAV file has one rate and one channel count: it ends where either changes
                // (and where long play starts or ends, whose frames last twice as long).
                const std::string from = FormatText(*format), to = FormatText(*r.format);
                result = Fail(CaptureResult::RateChange,
                              (r.format->rate != format->rate
                                   ? "The sampling rate changes from " + std::to_string(format->rate) + " Hz to " +
                                         std::to_string(r.format->rate) + " Hz"
                                   : "The recording changes from " + from + " to " + to) +
                                  " at " + LastFrameTimeText() + ". The capture file ends before the change.");
                break;
            }
        }
        // Frames lost before this one (or before the end) stand as silence of the tape's rate.
        const std::size_t frameBytes = end ? CaptureFrameBytes() : r.AudioBytes();
        silence.assign(frameBytes, 0);
        WavWriter::AppendResult appended = WavWriter::AppendResult::Written;
        for (std::uint32_t i = 0; i < r.missingBefore && appended == WavWriter::AppendResult::Written; ++i)
            appended = AppendCaptureAudio(silence.data(), silence.size());
        if (appended == WavWriter::AppendResult::Written && !end)
            appended = AppendCaptureAudio(r.Audio(), r.AudioBytes());
        if (appended != WavWriter::AppendResult::Written) {
            result = Appended(appended);
            StopPlayback();
            break;
        }
        if (end) {
            result = CaptureResult::EndOfTape;
            StopPlayback();
            break;
        }
    }
    BeginCaptureLoop(false);
    // Ended by itself, by the tape or by the drive: a deck that started it goes back to Ready.
    if (result == CaptureResult::EndOfTape || result == CaptureResult::ReadFailed ||
        result == CaptureResult::RateChange)
        NotifyEndOfTape();
    return result;
}
