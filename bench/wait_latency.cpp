// What waiting for a SCSI command costs: the CPU time of a one-second pending wait in
// SendAndWait, and the wake-up latency from the end of a command on the manager's thread to
// SendAndWait's return. Each figure stands beside a baseline measured in the same run: a
// thread blocked on a condition variable, and a bare condition-variable handoff between two
// threads. Run: build/bench/wait_latency [rounds]
#include <QCoreApplication>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/aspi/backend.h"
#include "transport/send_and_wait.h"
#include "transport/srb.h"

namespace {

using Clock = std::chrono::steady_clock;

// Each command (and each baseline handoff) ends this long after it starts, so that the
// waiting thread is surely asleep when the wake-up comes: that is the latency measured.
constexpr auto kSettle = std::chrono::microseconds(300);

double ProcessCpuSeconds()
{
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

long long NowNs() { return std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch()).count(); }

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
        open_ = false;
    }

private:
    std::mutex mutex_;
    std::condition_variable cv_;
    bool open_ = false;
};

// One adapter; target 1 waits at the gate, every command stamps the moment it ends.
class BenchBackend final : public aspi::Backend {
public:
    Gate gate;
    std::atomic<long long> doneAt{0};

    std::uint32_t supportInfo() override { return (std::uint32_t{SS_COMP} << 8) | 1; }
    std::uint8_t inquiry(std::uint8_t a, aspi::AdapterInquiry&) override { return a == 0 ? SS_COMP : SS_INVALID_HA; }
    std::uint8_t deviceType(std::uint8_t, std::uint8_t, std::uint8_t, std::uint8_t& type) override
    {
        type = 1;
        return SS_COMP;
    }
    aspi::ExecResult execute(const aspi::ExecRequest& req) override
    {
        if (req.target == 1)
            gate.pass();
        else
            std::this_thread::sleep_for(kSettle);
        doneAt.store(NowNs(), std::memory_order_relaxed);
        return {};
    }
};

void Send(std::uint8_t target)
{
    SRB_ExecSCSICmd srb;
    const std::uint8_t tur[6] = {};
    FillExecRecord(srb, 0, target, 0, tur, nullptr, 0);
    SendAndWait(srb, nullptr);
}

struct Stats {
    double median = 0, p99 = 0;
};

Stats Summarise(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return {v[v.size() / 2], v[std::min(v.size() - 1, v.size() * 99 / 100)]};
}

// Baseline: one thread hands a stamp to another through a condition variable.
std::vector<double> HandoffLatenciesUs(int rounds)
{
    std::mutex m;
    std::condition_variable toMain, toHelper;
    long long stamp = 0;
    bool ready = false, go = false, stop = false;
    std::thread helper([&] {
        for (;;) {
            std::unique_lock lock(m);
            toHelper.wait(lock, [&] { return go || stop; });
            if (stop)
                return;
            go = false;
            lock.unlock();
            std::this_thread::sleep_for(kSettle);
            lock.lock();
            stamp = NowNs();
            ready = true;
            lock.unlock();
            toMain.notify_one();
        }
    });
    std::vector<double> out;
    for (int i = 0; i < rounds; ++i) {
        std::unique_lock lock(m);
        go = true;
        toHelper.notify_one();
        toMain.wait(lock, [&] { return ready; });
        ready = false;
        out.push_back(static_cast<double>(NowNs() - stamp) / 1000.0);
    }
    {
        std::lock_guard lock(m);
        stop = true;
    }
    toHelper.notify_one();
    helper.join();
    return out;
}

}  // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const int rounds = argc > 1 ? std::max(10, std::atoi(argv[1])) : 2000;

    auto owned = std::make_unique<BenchBackend>();
    BenchBackend* backend = owned.get();
    aspi::InstallBackend(std::move(owned));
    Send(0);  // starts the worker and hooks the completion

    // CPU time of a one-second wait, against a thread blocked for one second.
    double cpu = ProcessCpuSeconds();
    {
        std::mutex m;
        std::condition_variable cv;
        std::unique_lock lock(m);
        cv.wait_for(lock, std::chrono::seconds(1));
    }
    const double baselineCpu = ProcessCpuSeconds() - cpu;
    QTimer::singleShot(1000, [&] { backend->gate.open(); });
    const auto wallStart = Clock::now();
    cpu = ProcessCpuSeconds();
    Send(1);
    const double waitCpu = ProcessCpuSeconds() - cpu;
    const double wall = std::chrono::duration<double>(Clock::now() - wallStart).count();

    // Wake-up latency: command end on the manager's thread -> SendAndWait returns.
    std::vector<double> wake;
    wake.reserve(static_cast<std::size_t>(rounds));
    for (int i = 0; i < rounds; ++i) {
        Send(0);
        wake.push_back(static_cast<double>(NowNs() - backend->doneAt.load(std::memory_order_relaxed)) / 1000.0);
    }
    const Stats w = Summarise(wake);
    const Stats b = Summarise(HandoffLatenciesUs(rounds));

    std::printf("one-second wait: %.3f s wall, %.2f ms CPU (%.3f%% of wall); blocked thread baseline %.2f ms CPU\n",
                wall, waitCpu * 1000, 100.0 * waitCpu / wall, baselineCpu * 1000);
    std::printf("wake-up latency (%d rounds): median %.1f us, p99 %.1f us\n", rounds, w.median, w.p99);
    std::printf("condition-variable handoff baseline: median %.1f us, p99 %.1f us\n", b.median, b.p99);
    std::printf("ratio wake/baseline: median %.1fx, p99 %.1fx\n", w.median / b.median, w.p99 / b.p99);

    aspi::InstallBackend(nullptr);
    aspi::ShutdownManager();
    return 0;
}
