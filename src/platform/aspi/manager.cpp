// The manager: entry points, the worker thread that runs execute records, and the trace.
//
// Thread rules: the entry points are called on the program's thread. Execute records are
// queued to one worker thread (the sg driver's SG_IO blocks for the whole command); it writes
// the sense area, SRB_HaStat, SRB_TargStat and then SRB_Status with release ordering, and
// only then calls the completion hook. Nothing of a record is touched after its status is
// stored: the waiting routine may return and free it at once.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstring>
#include <deque>
#include <fcntl.h>
#include <map>
#include <mutex>
#include <vector>
#include <pthread.h>
#include <thread>
#include <unistd.h>

#include "platform/aspi/aspi.h"
#include "platform/aspi/backend.h"
#include "platform/aspi/trace.h"
#include "platform/io/unique_fd.h"

namespace aspi {
namespace {

struct Job {
    SRB_ExecSCSICmd* srb;
    std::uint8_t* data;
};

struct Manager {
    // Immutable after construction.
    const std::chrono::steady_clock::time_point start = std::chrono::steady_clock::now();

    // Guarded by `mutex`.
    std::mutex mutex;
    std::condition_variable work;  // a job was queued, or stop was asked
    std::condition_variable idle;  // the worker finished a job
    std::deque<Job> queue;
    bool stopping = false;
    bool busy = false;
    std::thread worker;
    std::shared_ptr<Backend> backend;
    struct Hook {
        int id;
        AspiCompletionHook call;
        void* context;
    };
    std::vector<Hook> hooks;
    int lastHookId = 0;
    std::map<std::pair<std::uint8_t, std::uint8_t>, std::string> causes;  // by adapter, target
    RunningCommand running;  // elapsedMs holds the start time here

    // Guarded by `traceMutex`.
    std::mutex traceMutex;
    UniqueFd traceFd;
};

// Leaked on purpose: a worker abandoned in a kernel call at program end may still touch it.
Manager& M()
{
    static Manager* m = new Manager;
    return *m;
}

long long ElapsedMs()
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now() - M().start).count();
}

void WriteTrace(const std::string& line)
{
    Manager& m = M();
    std::lock_guard lock(m.traceMutex);
    if (!m.traceFd)
        return;
    std::string out = line + "\n";
    // One write per line: a killed process leaves only whole lines.
    const char* p = out.data();
    std::size_t left = out.size();
    while (left > 0) {
        ssize_t n = ::write(m.traceFd.get(), p, left);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        p += n;
        left -= static_cast<std::size_t>(n);
    }
}

std::shared_ptr<Backend> CurrentBackend()
{
    std::lock_guard lock(M().mutex);
    return M().backend;
}

// Stores the outcome into the record, traces it, publishes the status, then wakes the waiter.
void Complete(SRB_ExecSCSICmd* srb, const std::uint8_t* data, const ExecResult& r)
{
    if (r.srbStatus == SS_ERR) {
        const std::size_t n = std::min<std::size_t>(srb->SRB_SenseLen, kSenseAreaLen);
        std::uint8_t sense[kSenseAreaLen] = {};
        std::memcpy(sense, r.sense, std::min<std::size_t>(kSenseAreaLen, sizeof r.sense));
        std::memcpy(srb->SenseArea, sense, n);
    }
    srb->SRB_HaStat = r.haStat;
    srb->SRB_TargStat = r.targStat;
    {
        std::lock_guard lock(M().mutex);
        const std::pair<std::uint8_t, std::uint8_t> device{srb->SRB_HaId, srb->SRB_Target};
        if (r.cause.empty())
            M().causes.erase(device);
        else
            M().causes[device] = r.cause;
        M().running.running = false;
    }

    SRB_ExecSCSICmd shown = *srb;
    shown.SRB_Status = r.srbStatus == SS_PENDING ? SS_ABORTED : r.srbStatus;
    WriteTrace(FormatExecTrace(shown, data, r.transferred, ElapsedMs()));

    std::atomic_ref<std::uint8_t>(srb->SRB_Status).store(shown.SRB_Status, std::memory_order_release);

    std::vector<Manager::Hook> hooks;
    {
        std::lock_guard lock(M().mutex);
        hooks = M().hooks;
    }
    for (const Manager::Hook& h : hooks)
        h.call(h.context);
}

ExecResult Run(const Job& job, Backend* backend)
{
    ExecResult r;
    if (!backend) {
        r.srbStatus = SS_INVALID_HA;
        return r;
    }
    const SRB_ExecSCSICmd& srb = *job.srb;
    ExecRequest req;
    req.adapter = srb.SRB_HaId;
    req.target = srb.SRB_Target;
    req.lun = srb.SRB_Lun;
    req.cdb = srb.CDBByte;
    req.cdbLen = srb.SRB_CDBLen;
    req.direction = (srb.SRB_Flags & SRB_DIR_IN)    ? Direction::In
                    : (srb.SRB_Flags & SRB_DIR_OUT) ? Direction::Out
                                                    : Direction::None;
    req.data = srb.SRB_BufLen ? job.data : nullptr;
    req.dataLen = srb.SRB_BufLen;
    if (req.direction == Direction::None) {
        req.data = nullptr;
        req.dataLen = 0;
    }
    return backend->execute(req);
}

void WorkerLoop()
{
    // SG_IO fails with EINTR on a signal and orphans the command: keep signals away.
    sigset_t all;
    sigfillset(&all);
    pthread_sigmask(SIG_BLOCK, &all, nullptr);

    Manager& m = M();
    for (;;) {
        Job job;
        std::shared_ptr<Backend> backend;
        bool abandon;
        {
            std::unique_lock lock(m.mutex);
            m.work.wait(lock, [&] { return m.stopping || !m.queue.empty(); });
            if (m.queue.empty())
                return;
            job = m.queue.front();
            m.queue.pop_front();
            m.busy = true;
            backend = m.backend;
            abandon = m.stopping;
            RunningCommand& now = m.running;
            now.running = true;
            now.adapter = job.srb->SRB_HaId;
            now.target = job.srb->SRB_Target;
            now.opcode = job.srb->CDBByte[0];
            now.elapsedMs = ElapsedMs();
            now.timeoutMs = backend ? backend->timeoutMs(now.opcode) : 0;
            ++now.serial;
        }
        ExecResult r;
        if (abandon)
            r.srbStatus = SS_ABORTED;
        else
            r = Run(job, backend.get());
        Complete(job.srb, job.data, r);
        // Let go of the backend before reporting idle: InstallBackend must be able to
        // destroy the old one on its own thread once the worker is idle.
        backend.reset();
        {
            std::lock_guard lock(m.mutex);
            m.busy = false;
        }
        m.idle.notify_all();
    }
}

void CopyPadded(std::uint8_t (&dst)[16], const std::string& text)
{
    std::memset(dst, 0, sizeof dst);
    std::memcpy(dst, text.data(), std::min<std::size_t>(text.size(), sizeof dst));
}

std::uint32_t Inquiry(SRB_HAInquiry* srb)
{
    auto backend = CurrentBackend();
    AdapterInquiry info;
    std::uint8_t status = backend ? backend->inquiry(srb->SRB_HaId, info) : SS_INVALID_HA;
    if (status == SS_COMP) {
        srb->HA_Count = static_cast<std::uint8_t>(backend->supportInfo() & 0xFF);
        srb->HA_SCSI_ID = info.scsiId;
        CopyPadded(srb->HA_ManagerId, info.managerId);
        CopyPadded(srb->HA_Identifier, info.identifier);
        srb->HA_Unique[3] = info.targetCount;
    }
    srb->SRB_Status = status;
    WriteTrace(FormatInquiryTrace(srb->SRB_HaId, status, ElapsedMs()));
    return status;
}

std::uint32_t DeviceType(SRB_GDEVBlock* srb)
{
    auto backend = CurrentBackend();
    std::uint8_t type = 0;
    std::uint8_t status = backend ? backend->deviceType(srb->SRB_HaId, srb->SRB_Target, srb->SRB_Lun, type)
                                  : SS_INVALID_HA;
    if (status == SS_COMP)
        srb->SRB_DeviceType = type;
    srb->SRB_Status = status;
    WriteTrace(FormatDevTypeTrace(srb->SRB_HaId, srb->SRB_Target, status, srb->SRB_DeviceType, ElapsedMs()));
    return status;
}

std::uint32_t Refuse(SRB_ExecSCSICmd* srb, const std::uint8_t* data)
{
    ExecResult r;
    r.srbStatus = SS_INVALID_SRB;
    Complete(srb, data, r);
    return SS_INVALID_SRB;
}

}  // namespace

void InstallBackend(std::unique_ptr<Backend> backend)
{
    Manager& m = M();
    std::shared_ptr<Backend> old;
    {
        std::unique_lock lock(m.mutex);
        m.idle.wait(lock, [&] { return m.queue.empty() && !m.busy; });
        old = std::move(m.backend);
        m.backend = std::move(backend);
    }
}

std::string AdapterLocation(std::uint8_t adapter)
{
    auto backend = CurrentBackend();
    return backend ? backend->adapterLocation(adapter) : std::string();
}

std::string DeviceLocation(std::uint8_t adapter, std::uint8_t target)
{
    auto backend = CurrentBackend();
    return backend ? backend->deviceLocation(adapter, target) : std::string();
}

std::string NoAdapterHint()
{
    auto backend = CurrentBackend();
    return backend ? backend->noAdapterHint() : std::string();
}

std::string KnownFailureCause(std::uint8_t adapter, std::uint8_t target)
{
    std::lock_guard lock(M().mutex);
    const auto it = M().causes.find({adapter, target});
    return it != M().causes.end() ? it->second : std::string();
}

RunningCommand CurrentCommand()
{
    RunningCommand now;
    {
        std::lock_guard lock(M().mutex);
        now = M().running;
    }
    if (now.running)
        now.elapsedMs = ElapsedMs() - now.elapsedMs;
    return now;
}

bool OpenTrace(const std::string& path, std::string& error)
{
    Manager& m = M();
    std::lock_guard lock(m.traceMutex);
    m.traceFd.reset();
    if (path.empty())
        return true;
    UniqueFd fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_APPEND | O_CLOEXEC, 0644));
    if (!fd) {
        error = path + ": " + std::strerror(errno);
        return false;
    }
    m.traceFd = std::move(fd);
    return true;
}

void ShutdownManager()
{
    Manager& m = M();
    std::shared_ptr<Backend> backend;
    std::thread worker;
    {
        std::unique_lock lock(m.mutex);
        if (!m.worker.joinable())
            return;
        m.stopping = true;
        backend = m.backend;
    }
    m.work.notify_all();
    if (backend)
        backend->cancel();
    bool finished;
    {
        std::unique_lock lock(m.mutex);
        finished = m.idle.wait_for(lock, std::chrono::seconds(3), [&] { return m.queue.empty() && !m.busy; });
        worker = std::move(m.worker);
    }
    m.work.notify_all();
    if (finished)
        worker.join();
    else
        worker.detach();  // stuck in the kernel (an hour-long SG_IO): do not hang the exit
    std::lock_guard lock(m.mutex);
    m.stopping = false;
}

}  // namespace aspi

using namespace aspi;

extern "C" std::uint32_t GetASPI32SupportInfo(void)
{
    auto backend = CurrentBackend();
    // No backend: the manager failed to initialise.
    return backend ? backend->supportInfo() : (std::uint32_t{SS_FAILED_INIT} << 8);
}

extern "C" std::uint32_t SendASPI32Command(void* srb)
{
    if (!srb)
        return SS_INVALID_SRB;
    auto* header = static_cast<SRB_Header*>(srb);
    switch (header->SRB_Cmd) {
    case SC_HA_INQUIRY:
        return Inquiry(static_cast<SRB_HAInquiry*>(srb));
    case SC_GET_DEV_TYPE:
        return DeviceType(static_cast<SRB_GDEVBlock*>(srb));
    case SC_EXEC_SCSI_CMD: {
        auto* exec = static_cast<SRB_ExecSCSICmd*>(srb);
        // The 32-bit SRB_BufPointer cannot carry a 64-bit address: never use it as one.
        if (exec->SRB_BufLen > 0)
            return Refuse(exec, nullptr);
        return SendASPI32CommandWithBuffer(srb, nullptr);
    }
    default:
        header->SRB_Status = SS_INVALID_SRB;
        return SS_INVALID_SRB;
    }
}

extern "C" std::uint32_t SendASPI32CommandWithBuffer(void* p, void* buffer)
{
    auto* srb = static_cast<SRB_ExecSCSICmd*>(p);
    if (!srb)
        return SS_INVALID_SRB;
    if (srb->SRB_Cmd != SC_EXEC_SCSI_CMD) {
        // A final status, so that a waiting loop on this record cannot hang.
        srb->SRB_Status = SS_INVALID_SRB;
        return SS_INVALID_SRB;
    }
    auto* data = static_cast<std::uint8_t*>(buffer);
    if ((srb->SRB_BufLen > 0 && !data) || srb->SRB_CDBLen == 0 || srb->SRB_CDBLen > 16)
        return Refuse(srb, data);

    Manager& m = M();
    {
        std::lock_guard lock(m.mutex);
        srb->SRB_Status = SS_PENDING;
        if (!m.worker.joinable())
            m.worker = std::thread(WorkerLoop);
        m.queue.push_back(Job{srb, data});
    }
    m.work.notify_one();
    return SS_PENDING;
}

extern "C" int AspiAddCompletionHook(AspiCompletionHook hook, void* context)
{
    if (!hook)
        return 0;
    std::lock_guard lock(M().mutex);
    const int id = ++M().lastHookId;
    M().hooks.push_back({id, hook, context});
    return id;
}

extern "C" void AspiRemoveCompletionHook(int id)
{
    std::lock_guard lock(M().mutex);
    std::erase_if(M().hooks, [id](const Manager::Hook& h) { return h.id == id; });
}
