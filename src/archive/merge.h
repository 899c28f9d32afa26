// Several reads of one tape (archive packages from other drives, days or runs) into one
// package with the best copy of every frame. Frames are matched by their absolute time, never
// by their count; frames without one are placed by their clean neighbours. Clean beats
// concealed on one channel beats concealed on both beats unreadable; where clean copies
// differ, the majority (or, with two, the first package given) wins and the place is listed.
// The sources are only read; the result is written by the archive's own Package::Finish.
//
//   archive::MergeOptions o{.sources = {"tape07-a", "tape07-b"}, .dir = "tape07"};
//   const archive::Result r = archive::Merge(o, [](const archive::Progress& p) { ... });
//   // r.outcome: Clean, WithErrors (bad frames or disagreements), Refused or Incomplete
#pragma once

#include <csignal>
#include <functional>
#include <string>
#include <vector>

#include "archive/archive.h"

namespace archive {

struct MergeOptions {
    std::vector<std::string> sources;  // package folders, in the order given: the first wins a tie
    std::string dir;                   // new or empty, for the merged package
    bool force = false;                // merge even packages that do not hold the same tape
    // Set (by a signal handler) to stop: before writing, nothing is written; while writing,
    // the package is finished as incomplete.
    const volatile std::sig_atomic_t* stop = nullptr;
};

// Merges the packages. Refused (nothing written) when a source cannot be read, is of another
// rate or mode, or (without `force`) does not match the others; Incomplete when the merged
// package could not be written whole or was stopped; else Clean, or WithErrors when frames
// stay bad or clean copies disagreed.
Result Merge(const MergeOptions& options, const std::function<void(const Progress&)>& progress = {});

}  // namespace archive
