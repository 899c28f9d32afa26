#include "tape/position_record.h"

#include "platform/aspi/scsi_codes.h"
#include "transport/basic_text.h"
#include "transport/send_and_wait.h"
#include "transport/srb.h"

namespace {

// BT set: the drive's own DAT position report instead of logical block numbers.
constexpr std::array<std::uint8_t, 10> kReadPositionCdb{scsi::op::ReadPosition, 0x01, 0, 0, 0, 0, 0, 0, 0, 0};

// BT clear: the first block's location, which in audio mode is the tape frame.
constexpr std::array<std::uint8_t, 10> kReadFrameCdb{scsi::op::ReadPosition, 0x00, 0, 0, 0, 0, 0, 0, 0, 0};
constexpr std::uint8_t kPositionUnknown = 0x04;  // BPU: the drive cannot say where it is

std::string H(const PositionRecord& r, std::size_t i) { return HexText(r[i]); }

std::string Time(const PositionRecord& r, std::size_t first)
{
    return H(r, first) + ":" + H(r, first + 1) + ":" + H(r, first + 2);
}

}  // namespace

bool ReadPosition(std::uint8_t adapter, std::uint8_t target, PositionRecord& record)
{
    // Read aside: a failed command may leave anything in the buffer it was given.
    PositionRecord in{};
    SRB_ExecSCSICmd srb;
    FillExecRecord(srb, adapter, target, SRB_DIR_IN, kReadPositionCdb, in.data(), in.size());
    SendAndWait(srb, in.data());
    if (LoadStatus(srb) != SS_COMP)
        return false;
    record = in;
    return true;
}

std::optional<std::uint32_t> ReadFramePosition(std::uint8_t adapter, std::uint8_t target)
{
    PositionRecord in{};
    SRB_ExecSCSICmd srb;
    FillExecRecord(srb, adapter, target, SRB_DIR_IN, kReadFrameCdb, in.data(), in.size());
    SendAndWait(srb, in.data());
    if (LoadStatus(srb) != SS_COMP || (in[0] & kPositionUnknown))
        return std::nullopt;
    return std::uint32_t{in[4]} << 24 | std::uint32_t{in[5]} << 16 | std::uint32_t{in[6]} << 8 | in[7];
}

std::vector<std::string> FormatPositionReport(const PositionRecord& r)
{
    return {
        "Program # = " + H(r, 4) + H(r, 5) + H(r, 6),
        "Index # = " + H(r, 7),
        "Program Time = " + Time(r, 8),
        "Program Frame = " + H(r, 11),
        "Absolute Time = " + Time(r, 12),
        "Absolute Frame = " + H(r, 15),
        "Run Time = " + Time(r, 16),
        "Run Frame = " + H(r, 19),
    };
}
