// The drive routines as a window uses them: each tells the user what went wrong in a message
// box, at the moment the command's outcome is known, and gives the plain result. Inline, so
// that start-up's probe can have them without the deck's window code.
#pragma once

#include <cstdint>
#include <string>

#include "platform/ui/message_box.h"
#include "tape/positioning.h"
#include "tape/unit_mode.h"

namespace deck_detail {

// A failure's text; an empty one (a refusal the user is not told of) shows nothing.
inline bool Told(const Status& status)
{
    if (!status && !status.error().empty())
        ui::ShowMessage(status.error());
    return status.ok();
}

}  // namespace deck_detail

// One of the kTur codes; an unexpected outcome is told first and gives kTurOther (-99).
inline std::int32_t TestUnitReady(std::uint8_t adapter, std::uint8_t target)
{
    const UnitReadiness r = CheckUnitReady(adapter, target);
    if (!r.message.empty())
        ui::ShowMessage(r.message);
    return r.code;
}

// True when MODE SELECT completed; a refusal (SS_ERR) gives false silently, other failures a message.
inline bool ModeSelect(std::uint8_t adapter, std::uint8_t target, const ModeParameterList& list)
{
    return deck_detail::Told(TryModeSelect(adapter, target, list));
}

inline bool SelectAudioMode(std::uint8_t adapter, std::uint8_t target)
{
    return deck_detail::Told(TrySelectAudioMode(adapter, target));
}

inline bool SelectDensity(std::uint8_t adapter, std::uint8_t target, std::uint8_t density)
{
    return deck_detail::Told(TrySelectDensity(adapter, target, density));
}

// LOCATE whose failure the caller tells (or not) itself; a time field above 99 is told
// before the command goes out, as it is sent as 0.
inline LocateOutcome LocateTelling(std::uint8_t adapter, std::uint8_t target, std::uint8_t locateType, std::int32_t a1,
                                   std::int32_t a2, std::int32_t a3)
{
    const LocateCommand command = PrepareLocate(locateType, a1, a2, a3);
    for (const std::string& note : command.notes)
        ui::ShowMessage(note);
    return SendLocate(adapter, target, command);
}

// LOCATE that tells a refusal or any outcome but done. True when the drive reports it done.
inline bool LocateTape(std::uint8_t adapter, std::uint8_t target, std::uint8_t locateType, std::int32_t a1,
                       std::int32_t a2, std::int32_t a3)
{
    const LocateOutcome out = LocateTelling(adapter, target, locateType, a1, a2, a3);
    if (!out.done)
        ui::ShowMessage(out.message);
    return out.done;
}
