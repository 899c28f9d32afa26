// The frame decoder and the subcode state a reader keeps over many frames: any bytes give a
// frame whose fields are in range or marked not valid, and texts made from them.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "dat/frame.h"
#include "dat/subcode_state.h"
#include "dat/time_code.h"
#include "fuzz/fuzz_input.h"

namespace {

void Require(bool condition)
{
    if (!condition)
        std::abort();
}

void CheckTime(const dat::TimeCode& t)
{
    if (t.valid) {
        Require(dat::InRange(t));
        const auto index = dat::IndexOfTimeCode(t);
        Require(index.has_value());
        Require(dat::TimeCodeOfIndex(*index) == t);
    }
    Require(dat::FormatHmsf(t).size() == 11);
    (void)dat::FormatHms(t);
}

void CheckProgram(const dat::ProgramNumber& p)
{
    if (p.kind == dat::ProgramNumber::Kind::Number)
        Require(p.number <= 799 && dat::ProgramNumber::Of(p.number) == p);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    // Only a whole frame decodes.
    Require(dat::Decode(data, size).has_value() == (size == dat::kFrameBytes));

    const std::vector<std::uint8_t> frames = fuzz::FramesFromSubcodes(data, size);
    dat::SubcodeState state;
    for (std::size_t at = 0; at < frames.size(); at += dat::kFrameBytes) {
        const dat::Frame f = dat::Decode(dat::FrameBytes(frames.data() + at, dat::kFrameBytes));
        Require(f.tocCount <= f.toc.size());
        (void)f.mainId.RateText();
        (void)f.mainId.SampleRateHz();
        CheckProgram(f.subId.program);
        for (const auto* t : {&f.programTime, &f.absoluteTime, &f.runningTime})
            if (*t) {
                CheckTime((*t)->time);
                CheckProgram((*t)->program);
                Require(!(*t)->index || *(*t)->index <= 99);
            }
        for (std::size_t i = 0; i < f.tocCount; ++i)
            CheckTime(f.toc[i].start);
        if (f.catalog)
            Require(f.catalog->digits.empty() || f.catalog->digits.size() == 13);
        state.Update(f);
        Require(state.toc.size() <= dat::SubcodeState::kMaxTocEntries);
    }
    return 0;
}
