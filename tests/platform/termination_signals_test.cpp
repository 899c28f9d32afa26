// SIGINT, SIGTERM and SIGHUP come back as a call on the program's thread.
#include <QThread>
#include <csignal>
#include <cstdlib>
#include <gtest/gtest.h>
#include <vector>

#include "platform/ui/termination_signals.h"
#include "wave/pump.h"

namespace {

TEST(TerminationSignalsTest, EachSignalRunsTheHandlerOnTheProgramThread)
{
    std::vector<int> seen;
    QThread* handlerThread = nullptr;
    ui::CatchTerminationSignals([&](int signo) {
        seen.push_back(signo);
        handlerThread = QThread::currentThread();
    });
    for (int s : {SIGHUP, SIGTERM, SIGINT}) {
        std::raise(s);
        ASSERT_TRUE(testing_support::PumpUntil([&] { return !seen.empty() && seen.back() == s; }));
    }
    EXPECT_EQ(seen, (std::vector<int>{SIGHUP, SIGTERM, SIGINT}));
    EXPECT_EQ(handlerThread, QThread::currentThread());
    ui::ReleaseTerminationSignals();
}

}  // namespace

namespace {

// The user who presses Ctrl-C a second time does not wait for what the first one started.
TEST(TerminationSignalsDeathTest, AfterEndOnNextSignalASecondSignalEndsTheProcess)
{
    EXPECT_EXIT(
        {
            bool seen = false;
            ui::CatchTerminationSignals([&](int) {
                seen = true;
                ui::EndOnNextSignal();
            });
            std::raise(SIGINT);
            if (!testing_support::PumpUntil([&] { return seen; }))
                std::_Exit(2);
            std::raise(SIGINT);
            std::_Exit(0);
        },
        ::testing::KilledBySignal(SIGINT), "");
}

}  // namespace
