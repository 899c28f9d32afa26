#include "audio/capture.h"

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
    std::uint32_t rate = 0;  // of the file, once the first frame has told it
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
            const std::uint32_t frameRate = r.format->rate;
            if (rate == 0) {
                rate = frameRate;
                SetCaptureFileRate(rate);
            } else if (frameRate != rate) {
                result = Fail(CaptureResult::RateChange,
                              "The sampling rate changes from " + std::to_string(rate) + " Hz to " +
                                  std::to_string(frameRate) + " Hz at " + LastFrameTimeText() +
                                  ". The capture file ends before the change.");
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
