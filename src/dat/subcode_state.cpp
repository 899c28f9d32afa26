#include "dat/subcode_state.h"

#include <algorithm>

namespace dat {

void SubcodeState::Update(const Frame& f)
{
    seenFrame = true;
    mainId = f.mainId;
    subId = f.subId;
    if (f.programTime)
        programTime = f.programTime;
    if (f.absoluteTime)
        absoluteTime = f.absoluteTime;
    if (f.runningTime)
        runningTime = f.runningTime;
    if (f.date)
        date = f.date;
    if (f.catalog)
        catalog = f.catalog;
    if (f.isrc)
        isrc = f.isrc;
    for (std::size_t i = 0; i < f.tocCount && i < f.toc.size(); ++i) {
        const TocEntry& e = f.toc[i];
        auto same = std::find_if(toc.begin(), toc.end(),
                                 [&](const TocEntry& t) { return t.program == e.program && t.index == e.index; });
        if (same != toc.end())
            *same = e;
        else if (toc.size() < kMaxTocEntries)
            toc.push_back(e);
    }
}

}  // namespace dat
