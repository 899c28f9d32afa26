#include "audio/capture.h"

#include "audio/frame_reader.h"
#include "audio/playback.h"

CaptureResult RunCapture(const std::string& path)
{
    if (CaptureLoopRunning())
        return CaptureResult::NotStarted;
    // A capture started while playback runs ends the playback first; the capture then
    // reads on from where the tape is.
    if (PlayActive || StartPending())
        StopPlayback();
    BeginCaptureLoop(true);
    if (!OpenCaptureFile(path)) {
        BeginCaptureLoop(false);
        return CaptureResult::FileError;
    }
    PlayActive = true;
    CaptureResult result = CaptureResult::Stopped;
    while (PlayActive) {
        const FrameStatus status = ReadNextFrame().status;
        if (!PlayActive)
            break;  // a stop arrived during the read: that frame is not written
        if (status == FrameStatus::EndOfTape) {
            result = CaptureResult::EndOfTape;
            StopPlayback();
            break;
        }
        const WavWriter::AppendResult appended = AppendCaptureAudio(FrameBuffer.data(), kFrameAudioBytes);
        if (appended != WavWriter::AppendResult::Written) {
            result = appended == WavWriter::AppendResult::SizeLimit ? CaptureResult::SizeLimit : CaptureResult::FileError;
            StopPlayback();
            break;
        }
    }
    BeginCaptureLoop(false);
    if (result == CaptureResult::EndOfTape)
        NotifyEndOfTape();
    return result;
}
