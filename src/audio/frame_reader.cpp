#include "audio/frame_reader.h"

#include "platform/aspi/scsi_codes.h"
#include "transport/drive_state.h"

std::array<std::uint8_t, kFrameBytes> FrameBuffer{};

FrameRead ReadNextFrame()
{
    FrameRead r;
    r.outcome = ReadTapeBlock(AspiAdapter, AspiTarget, FrameBuffer.data(), static_cast<std::int32_t>(kFrameBytes));
    if (r.outcome.completed)
        r.status = IsLeadOutFrame(FrameBuffer.data()) ? FrameStatus::EndOfTape : FrameStatus::Audio;
    // BLANK CHECK ends the recorded area; without a tape no frame follows either.
    else if (r.outcome.endOfData() || r.outcome.sense.key == scsi::key::NotReady)
        r.status = FrameStatus::EndOfTape;
    else
        r.status = FrameStatus::Stale;
    return r;
}
