// What a package made by merging several reads of one tape says of them: where each read came
// from and what it gave, and where clean copies of a frame disagreed. Empty for an archive
// read from a drive.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "transport/drive_identity.h"

namespace archive {

struct MergeSource {
    std::string path;               // the package's folder, absolute
    std::string baggingDate;        // its bag-info's Bagging-Date
    DriveIdentity drive;            // as its bag-info names it
    std::string tapeSha256;         // of its data/tape.dat
    std::uint64_t framesTaken = 0;  // readable frames of the result taken from it
};

// Consecutive places where clean copies held different audio, split the same way throughout.
struct Disagreement {
    std::int64_t firstAbsolute = -1, lastAbsolute = -1;
    std::size_t frames = 0;
    // Sources (indexes into MergeFacts::sources) holding each version; the one taken first.
    std::vector<std::vector<std::size_t>> sides;
};

struct MergeFacts {
    std::vector<MergeSource> sources;
    std::vector<Disagreement> disagreements;
    bool forced = false;  // merged although a source did not match the others

    bool merged() const { return !sources.empty(); }
};

}  // namespace archive
