// The share read and the time left that the progress window and line show, from a run's
// progress reports.
#include <gtest/gtest.h>

#include "archive/progress_estimate.h"

namespace {

archive::Progress At(const char* phase, std::uint64_t frame, std::uint64_t recorded = 1000)
{
    archive::Progress p;
    p.phase = phase;
    p.recordedFrames = recorded;
    p.tapeFrame = frame;
    return p;
}

TEST(ProgressEstimate, ShareAndTimeLeftFollowTheReadingFromWhenItBegan)
{
    archive::ProgressEstimate e;
    // The search for the recorded length takes its time: it is not part of the speed.
    e.Add(At("measuring", 0, 0), 0);
    EXPECT_FALSE(e.Fraction());
    EXPECT_FALSE(e.SecondsLeft());
    e.Add(At("reading", 0), 30);
    EXPECT_DOUBLE_EQ(*e.Fraction(), 0.0);
    EXPECT_FALSE(e.SecondsLeft());  // no speed yet
    e.Add(At("reading", 100), 30.5);
    EXPECT_FALSE(e.SecondsLeft());  // half a second is no steady speed
    e.Add(At("reading", 250), 35);  // 50 frames a second
    EXPECT_DOUBLE_EQ(*e.Fraction(), 0.25);
    EXPECT_DOUBLE_EQ(*e.SecondsLeft(), 15.0);
    // The lead-out read past the recorded area: full, nothing left, never more.
    e.Add(At("reading", 1040), 50);
    EXPECT_DOUBLE_EQ(*e.Fraction(), 1.0);
    EXPECT_DOUBLE_EQ(*e.SecondsLeft(), 0.0);
    // The retry pass comes after a whole pass: full, no time to tell.
    e.Add(At("retrying", 300), 51);
    EXPECT_DOUBLE_EQ(*e.Fraction(), 1.0);
    EXPECT_FALSE(e.SecondsLeft());
    e.Add(At("writing the package", 1040), 52);
    EXPECT_DOUBLE_EQ(*e.Fraction(), 1.0);
}

TEST(ProgressEstimate, AStoppedPassKeepsTheShareItReadWhileThePackageIsWritten)
{
    archive::ProgressEstimate e;
    e.Add(At("reading", 0), 0);
    e.Add(At("reading", 250), 5);
    e.Add(At("writing the package", 250), 6);
    EXPECT_DOUBLE_EQ(*e.Fraction(), 0.25);
    EXPECT_FALSE(e.SecondsLeft());
}

TEST(ProgressEstimate, AnUnknownLengthGivesNeitherShareNorTimeLeft)
{
    archive::ProgressEstimate e;
    e.Add(At("reading", 0, 0), 0);
    e.Add(At("reading", 500, 0), 10);
    EXPECT_FALSE(e.Fraction());
    EXPECT_FALSE(e.SecondsLeft());
    EXPECT_EQ(archive::DurationText(3723.4), "1:02:03");
    EXPECT_EQ(archive::DurationText(-2), "0:00:00");
}

}  // namespace
