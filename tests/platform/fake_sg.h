// A fake sg driver behind SgEnvironment: open() hands out descriptors for the node paths it
// is told about (or fails with a chosen errno), and SG_IO answers with a function of the
// test (GOOD by default). Everything it saw is recorded; safe to call from the manager's
// worker and the test's thread at once.
#pragma once

#include <cerrno>
#include <cstring>
#include <functional>
#include <map>
#include <mutex>
#include <scsi/sg.h>
#include <string>
#include <vector>

#include "platform/aspi/sg_backend.h"

namespace testing_support {

struct SgCall {
    std::string path;
    std::vector<std::uint8_t> cdb;
    int direction = 0;
    unsigned dxferLen = 0;
    unsigned timeout = 0;
    int interfaceId = 0;
    unsigned char mxSbLen = 0;
};

class FakeSg {
public:
    // Returns the ioctl's result; may fill the header's outputs and `data`, or set errno.
    using Answer = std::function<int(const std::string& path, sg_io_hdr_t& hdr)>;

    // The errno an open of `path` fails with; 0 lets it open again.
    void failOpen(const std::string& path, int err)
    {
        std::lock_guard lock(mutex_);
        if (err == 0)
            openErrors_.erase(path);
        else
            openErrors_[path] = err;
    }
    void setAnswer(Answer answer)
    {
        std::lock_guard lock(mutex_);
        answer_ = std::move(answer);
    }

    std::vector<SgCall> calls() const
    {
        std::lock_guard lock(mutex_);
        return calls_;
    }
    std::vector<std::string> opened() const
    {
        std::lock_guard lock(mutex_);
        return opened_;
    }
    std::vector<int> openFlags() const
    {
        std::lock_guard lock(mutex_);
        return openFlags_;
    }
    int openCount() const
    {
        std::lock_guard lock(mutex_);
        return static_cast<int>(fds_.size());
    }
    std::vector<std::string> reports() const
    {
        std::lock_guard lock(mutex_);
        return reports_;
    }

    aspi::SgEnvironment environment(const std::string& sysfsRoot, const std::string& devRoot)
    {
        aspi::SgEnvironment env;
        env.sysfsRoot = sysfsRoot;
        env.devRoot = devRoot;
        env.open = [this](const char* path, int flags) { return open(path, flags); };
        env.ioctl = [this](int fd, unsigned long request, void* arg) { return ioctl(fd, request, arg); };
        env.close = [this](int fd) { return close(fd); };
        env.report = [this](const std::string& line) {
            std::lock_guard lock(mutex_);
            reports_.push_back(line);
        };
        return env;
    }

private:
    int open(const char* path, int flags)
    {
        std::lock_guard lock(mutex_);
        opened_.push_back(path);
        openFlags_.push_back(flags);
        if (auto it = openErrors_.find(path); it != openErrors_.end()) {
            errno = it->second;
            return -1;
        }
        const int fd = nextFd_++;
        fds_[fd] = path;
        return fd;
    }

    int close(int fd)
    {
        std::lock_guard lock(mutex_);
        if (fds_.erase(fd) == 0) {
            errno = EBADF;
            return -1;
        }
        return 0;
    }

    int ioctl(int fd, unsigned long request, void* arg)
    {
        std::string path;
        Answer answer;
        {
            std::lock_guard lock(mutex_);
            auto it = fds_.find(fd);
            if (it == fds_.end() || request != SG_IO) {
                errno = it == fds_.end() ? EBADF : ENOTTY;
                return -1;
            }
            path = it->second;
            answer = answer_;
            auto& hdr = *static_cast<sg_io_hdr_t*>(arg);
            SgCall call;
            call.path = path;
            call.cdb.assign(hdr.cmdp, hdr.cmdp + hdr.cmd_len);
            call.direction = hdr.dxfer_direction;
            call.dxferLen = hdr.dxfer_len;
            call.timeout = hdr.timeout;
            call.interfaceId = hdr.interface_id;
            call.mxSbLen = hdr.mx_sb_len;
            calls_.push_back(call);
        }
        auto& hdr = *static_cast<sg_io_hdr_t*>(arg);
        return answer ? answer(path, hdr) : 0;
    }

    mutable std::mutex mutex_;
    std::map<std::string, int> openErrors_;
    std::map<int, std::string> fds_;
    int nextFd_ = 100;
    Answer answer_;
    std::vector<SgCall> calls_;
    std::vector<std::string> opened_;
    std::vector<int> openFlags_;
    std::vector<std::string> reports_;
};

// CHECK CONDITION with `sense` copied the way sg copies it.
inline int AnswerCheckCondition(sg_io_hdr_t& hdr, const std::vector<std::uint8_t>& sense)
{
    hdr.status = 0x02;
    hdr.masked_status = 0x01;
    hdr.driver_status = 0x08;
    const std::size_t n = std::min<std::size_t>({hdr.mx_sb_len, sense.size(), 96});
    std::memcpy(hdr.sbp, sense.data(), n);
    hdr.sb_len_wr = static_cast<unsigned char>(n);
    return 0;
}

}  // namespace testing_support
