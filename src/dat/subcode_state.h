// What a reader knows of the subcode while it reads frame after frame. Not every pack appears
// in every frame, so each kind keeps the last value seen; the IDs are those of the last frame.
//
//   dat::SubcodeState state;
//   for (each frame) state.Update(dat::Decode(frame));
//   if (state.absoluteTime) ...
#pragma once

#include <vector>

#include "dat/frame.h"

namespace dat {

struct SubcodeState {
    bool seenFrame = false;
    MainId mainId;  // of the last frame
    SubId subId;    // of the last frame
    std::optional<TimePack> programTime, absoluteTime, runningTime;
    std::optional<DatePack> date;
    std::optional<CodePack> catalog, isrc;
    // TOC entries seen, one per program and index number, in the order first seen; bounded
    // so that a damaged tape cannot grow it without end.
    static constexpr std::size_t kMaxTocEntries = 1024;
    std::vector<TocEntry> toc;

    void Update(const Frame& frame);
    void Reset() { *this = SubcodeState{}; }
};

}  // namespace dat
