// SendAndWait: returns on any final status, lets nested waits finish, and sleeps while it
// waits.
#include <QTimer>
#include <condition_variable>
#include <ctime>
#include <gtest/gtest.h>
#include <mutex>
#include <thread>
#include <chrono>
#include <future>
#include <string>
#include <vector>

#include "platform/aspi/backend.h"
#include "support/fake_backend.h"
#include "transport/send_and_wait.h"
#include "transport/srb.h"

namespace {

using testing_support::ScriptedBackend;
using testing_support::WithStatus;

// Holds the manager's thread inside a command until the test lets it go.
class Gate {
public:
    void open()
    {
        {
            std::lock_guard lock(mutex_);
            open_ = true;
        }
        cv_.notify_all();
    }
    void pass()
    {
        std::unique_lock lock(mutex_);
        cv_.wait(lock, [&] { return open_; });
    }

private:
    std::mutex mutex_;
    std::condition_variable cv_;
    bool open_ = false;
};

double ProcessCpuSeconds()
{
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

class SendAndWaitTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        auto owned = std::make_unique<ScriptedBackend>();
        backend = owned.get();
        backend->adapters.resize(1);
        backend->answer = [this](const aspi::ExecRequest& req) {
            if (req.target == 1)
                gate.pass();
            return req.target == 9 ? WithStatus(status) : aspi::ExecResult{};
        };
        aspi::InstallBackend(std::move(owned));
    }
    void TearDown() override { aspi::InstallBackend(nullptr); }

    static void Fill(SRB_ExecSCSICmd& srb, std::uint8_t target)
    {
        const std::uint8_t tur[6] = {};
        FillExecRecord(srb, 0, target, 0, tur, nullptr, 0);
    }

    ScriptedBackend* backend = nullptr;
    Gate gate;
    std::uint8_t status = SS_COMP;
};

TEST_F(SendAndWaitTest, ReturnsOnAnyFinalStatus)
{
    for (std::uint8_t s : {SS_COMP, SS_ABORTED, SS_ERR, SS_INVALID_HA, SS_NO_DEVICE, std::uint8_t{0xFF}}) {
        status = s;
        SRB_ExecSCSICmd srb;
        Fill(srb, 9);
        SendAndWait(srb, nullptr);
        EXPECT_EQ(srb.SRB_Status, s);
    }
}

TEST_F(SendAndWaitTest, NestedWaitCompletesAndTheOuterWaitResumesAfterIt)
{
    std::vector<std::string> events;
    SRB_ExecSCSICmd outer, inner;
    Fill(outer, 1);  // held at the gate
    Fill(inner, 2);
    QTimer::singleShot(0, [&] {
        events.push_back(LoadStatus(outer) == SS_PENDING ? "handler during outer" : "handler too late");
        QTimer::singleShot(0, [&] { gate.open(); });
        SendAndWait(inner, nullptr);
        events.push_back("inner returned " + std::to_string(inner.SRB_Status));
    });
    SendAndWait(outer, nullptr);
    events.push_back("outer returned " + std::to_string(outer.SRB_Status));
    EXPECT_EQ(events, (std::vector<std::string>{"handler during outer", "inner returned 1", "outer returned 1"}));
}

TEST_F(SendAndWaitTest, SleepsWhileACommandIsPending)
{
    SRB_ExecSCSICmd srb;
    Fill(srb, 1);
    QTimer::singleShot(1000, [&] { gate.open(); });
    const double before = ProcessCpuSeconds();
    SendAndWait(srb, nullptr);
    const double spent = ProcessCpuSeconds() - before;
    EXPECT_EQ(srb.SRB_Status, SS_COMP);
    // A polling loop would burn most of the second; blocking costs milliseconds.
    EXPECT_LT(spent, 0.2) << "CPU seconds spent during a one-second wait";
    RecordProperty("cpu_ms_for_1s_wait", static_cast<int>(spent * 1000));
}

TEST_F(SendAndWaitTest, OtherCompletionHooksComeAndGoWithoutSilencingTheWaiter)
{
    SRB_ExecSCSICmd srb;
    Fill(srb, 9);
    SendAndWait(srb, nullptr);  // the waiter's own hook is in place from here on

    // Another user's hook runs beside it (after the status is published, so wait for it).
    static std::promise<void> called;
    const int id = AspiAddCompletionHook([](void*) { called.set_value(); }, nullptr);
    Fill(srb, 9);
    SendAndWait(srb, nullptr);
    EXPECT_EQ(called.get_future().wait_for(std::chrono::seconds(20)), std::future_status::ready);
    AspiRemoveCompletionHook(id);  // a second call would throw: the hook must be gone

    // The command completes on the manager's thread alone; only the waiter's hook can wake
    // the wait. The timer is a rescue that must not be needed.
    bool rescued = false;
    QTimer rescue;
    rescue.setSingleShot(true);
    QObject::connect(&rescue, &QTimer::timeout, [&] {
        rescued = true;
        gate.open();
    });
    rescue.start(20000);
    Fill(srb, 1);
    std::thread opener([&] { gate.open(); });
    SendAndWait(srb, nullptr);
    opener.join();
    EXPECT_FALSE(rescued) << "the wait was not woken by the completion";
    EXPECT_EQ(srb.SRB_Status, SS_COMP);
}

}  // namespace
