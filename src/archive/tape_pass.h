// The drive's side of an archive, and the only part of it that talks to the drive: who the
// drive is, the pass over the tape into the package (from the start, from where the tape
// stands, or on from where an earlier run stopped), the lead-out, and the retry pass over
// the places that were damaged. Reads go through the frame pass, positioning through tape/.
#pragma once

#include <functional>

#include "archive/archive.h"
#include "archive/package.h"

namespace archive {

// Fills `package` from the selected drive, which must be ready with an audio tape, and says
// how the run went for Package::Finish. `progress` is called now and then; `stop` is read
// before and after every frame.
RunFacts ReadTape(Package& package, const Options& options, const std::function<void(const Progress&)>& progress,
                  const bool& stop);

}  // namespace archive
