// frmDeck: seeking. Execute seeks to the keypad entry by absolute time, program number or
// program time; Previous and Next Program skip between programs.
#include <QTimer>
#include <vector>

#include "audio/frame_reader.h"
#include "audio/playback.h"
#include "dat/frame.h"
#include "deck/command_scope.h"
#include "deck/drive_commands.h"
#include "deck/frm_deck.h"
#include "platform/ui/message_box.h"
#include "transport/drive_state.h"

namespace {

using deck::CommandScope;

constexpr unsigned kHighestProgram = 799;
// Previous Program this far into a program goes back to its own start.
constexpr std::uint32_t kRestartFrames = 100;  // 3 seconds

const char* const kNoNextProgram = "No next program.";
const char* const kNoCurrentProgram = "No current program: the tape does not stand in a program.";

LocateOutcome LocateProgram(unsigned n)
{
    return LocateTelling(AspiAdapter, AspiTarget, kLocateProgram, static_cast<std::int32_t>(n / 100),
                         static_cast<std::int32_t>(n / 10 % 10), static_cast<std::int32_t>(n % 10));
}

}  // namespace

void frmDeck::RunSeek(std::function<void()> moves, std::function<void()> thenReady)
{
    // The queued audio is dropped; the user presses Play to hear the new place.
    if (PlayActive) {
        tmrPanel->stop();
        resumeAfterStop_ = false;
        StopPlayback();
    }
    BeginTransportCommand();
    AfterRefill(
        [this, moves = std::move(moves), thenReady = std::move(thenReady)] {
            if (unloaded_)
                return;
            {
                CommandScope running(commandRunning_);
                moves();
            }
            if (unloaded_)
                return;
            ShowDrivePosition();
            if (unloaded_)
                return;
            ReturnToReady();
            if (thenReady)
                thenReady();
        },
        /*deferAlways=*/false);
}

LocateOutcome frmDeck::StandAt(const dat::TimeCode& t)
{
    const LocateOutcome out = LocateTelling(AspiAdapter, AspiTarget, kLocateAbsoluteTime, static_cast<std::int32_t>(t.h),
                                            static_cast<std::int32_t>(t.m), static_cast<std::int32_t>(t.s));
    const std::optional<std::uint32_t> target = dat::IndexOfTimeCode(t);
    if (!out.done || !target)
        return out;
    // LOCATE goes to a whole second; the frames before `t` in it are read and dropped, so a
    // resumed Play neither skips nor repeats.
    for (unsigned i = 0; i < t.f && !unloaded_; ++i) {
        const FrameRead read = ReadFrameOutsidePass();
        if (!read.outcome.completed || !read.frame.absoluteTime)
            break;
        const std::optional<std::uint32_t> at = dat::IndexOfTimeCode(read.frame.absoluteTime->time);
        if (!at || *at + 1 >= *target)
            break;
    }
    return out;
}

void frmDeck::ReturnTo(const std::optional<KnownPosition>& before)
{
    if (before && before->absolute.valid && !unloaded_)
        StandAt(before->absolute);  // best effort: the failure already has its message
}

void frmDeck::SeekFailed(const LocateOutcome& outcome, const std::optional<KnownPosition>& before)
{
    // A missing address runs the tape to the end of the recording: it goes back first.
    if (outcome.notFound)
        ReturnTo(before);
    if (!unloaded_)
        ui::ShowMessage(outcome.message, ui::Icon::Warning, this);
}

void frmDeck::SeekToEntry(SeekType type, const std::array<int, 5>& d)
{
    if (PlayActive)
        NoteHeardPosition();
    const auto hours = static_cast<std::uint32_t>(d[0]);
    const auto minutes = static_cast<std::uint32_t>(d[1] * 10 + d[2]);
    const auto seconds = static_cast<std::uint32_t>(d[3] * 10 + d[4]);
    switch (type) {
    case SeekType::ATime:
        RunSeek([this, hours, minutes, seconds] {
            const std::optional<KnownPosition> before = known_;
            const LocateOutcome out = LocateTelling(AspiAdapter, AspiTarget, kLocateAbsoluteTime,
                                                    static_cast<std::int32_t>(hours), static_cast<std::int32_t>(minutes),
                                                    static_cast<std::int32_t>(seconds));
            if (!out.done)
                SeekFailed(out, before);
        });
        return;
    case SeekType::PNo: {
        const unsigned n = static_cast<unsigned>(d[0] * 10000 + d[1] * 1000 + d[2] * 100 + d[3] * 10 + d[4]);
        if (n > kHighestProgram) {
            ui::ShowMessage("Program number exceeds 799.", ui::Icon::Warning, this);
            return;
        }
        RunSeek([this, n] {
            const std::optional<KnownPosition> before = known_;
            const LocateOutcome out = LocateProgram(n);
            if (!out.done)
                SeekFailed(out, before);
        });
        return;
    }
    case SeekType::PTime: {
        if (!known_ || !known_->number.IsNumber()) {
            ui::ShowMessage(kNoCurrentProgram, ui::Icon::Information, this);
            return;
        }
        const unsigned n = known_->number.number;
        const std::uint32_t offset = *dat::IndexOfTimeCode(dat::TimeCode{hours, minutes, seconds, 0, true});
        RunSeek([this, n, offset] {
            const std::optional<KnownPosition> before = known_;
            const LocateOutcome start = LocateProgram(n);
            if (!start.done) {
                SeekFailed(start, before);
                return;
            }
            // The program's start in absolute time, which the locate by time counts in.
            if (unloaded_ || !ReadDrivePosition())
                return;
            const std::optional<std::uint32_t> startIndex = dat::IndexOfTimeCode(known_->absolute);
            if (!startIndex)
                return;
            const dat::TimeCode target = dat::TimeCodeOfIndex(std::uint64_t{*startIndex} + offset);
            if (!target.valid)
                return;
            const LocateOutcome out = StandAt(target);
            if (!out.done)
                SeekFailed(out, before);
        });
        return;
    }
    }
}

void frmDeck::SeekProgram(bool next)
{
    if (PlayActive)
        NoteHeardPosition();
    RunSeek([this, next] {
        // A tape not yet read from: the drive says where it stands.
        if (!known_ && !ReadDrivePosition())
            return;
        const std::optional<KnownPosition> before = known_;
        const dat::ProgramNumber& number = before->number;
        using Kind = dat::ProgramNumber::Kind;
        if (next) {
            if (number.kind == Kind::LeadOut || (number.IsNumber() && number.number >= kHighestProgram)) {
                ui::ShowMessage(kNoNextProgram, ui::Icon::Information, this);
                return;
            }
            if (!number.IsNumber() && number.kind != Kind::LeadIn) {
                ui::ShowMessage(kNoCurrentProgram, ui::Icon::Information, this);
                return;
            }
            const LocateOutcome out = LocateProgram(number.IsNumber() ? number.number + 1u : 1u);
            if (out.done)
                return;
            if (!out.notFound) {
                ui::ShowMessage(out.message, ui::Icon::Warning, this);
                return;
            }
            // Past the last program: the tape goes back to where it stood.
            ReturnTo(before);
            if (!unloaded_)
                ui::ShowMessage(kNoNextProgram, ui::Icon::Information, this);
            return;
        }
        if (number.kind != Kind::LeadIn && !number.IsNumber()) {
            ui::ShowMessage(kNoCurrentProgram, ui::Icon::Information, this);
            return;
        }
        const std::optional<std::uint32_t> into = dat::IndexOfTimeCode(before->program);
        LocateOutcome out;
        if (number.IsNumber() && into && *into > kRestartFrames)
            out = LocateProgram(number.number);  // back to the start of this program
        else if (!number.IsNumber() || number.number <= 1)
            out = LocateTelling(AspiAdapter, AspiTarget, kLocateAbsoluteTime, 0, 0, 0);  // BOT
        else
            out = LocateProgram(number.number - 1u);
        if (!out.done)
            SeekFailed(out, before);
    });
}
