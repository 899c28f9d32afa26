#include "sim/written_tape.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

#include "dat/frame.h"

namespace sim {
namespace {

class BlankTape final : public Tape {
public:
    std::uint8_t density() const override { return kAudioDensity; }
    std::uint64_t frameCount() const override { return 0; }
    void readFrame(std::uint64_t, std::uint8_t* out) const override { std::memset(out, 0, dat::kFrameBytes); }
    FramePosition position(std::uint64_t) const override { return {}; }
};

// Where a frame stands by its own subcode; packs it lacks keep the values before it.
FramePosition PositionOf(const std::uint8_t* frame, FramePosition last)
{
    const std::uint8_t* subId = frame + dat::kSubIdOffset;
    last.program[0] = subId[1] >> 4;
    last.program[1] = subId[2] >> 4;
    last.program[2] = subId[2] & 0x0F;
    for (std::size_t k = 0; k < dat::kPackCount; ++k) {
        const std::uint8_t* pack = frame + dat::kPacksOffset + dat::kPackBytes * k;
        switch (pack[0] >> 4) {
        case 1:
            last.index = pack[2];
            std::memcpy(last.programTime, pack + 3, 4);
            break;
        case 2:
            std::memcpy(last.absoluteTime, pack + 3, 4);
            break;
        case 3:
            std::memcpy(last.runTime, pack + 3, 4);
            break;
        default:
            break;
        }
    }
    return last;
}

bool WriteAll(int fd, const std::uint8_t* data, std::size_t size)
{
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

}  // namespace

std::shared_ptr<const Tape> MakeBlankTape() { return std::make_shared<BlankTape>(); }

WrittenTape::WrittenTape(std::shared_ptr<const Tape> base) : base_(std::move(base)), kept_(base_->frameCount()) {}

std::uint8_t WrittenTape::density() const
{
    // Audio frames over the start of a data tape make it an audio tape.
    return kept_ == 0 && !positions_.empty() ? kAudioDensity : base_->density();
}

void WrittenTape::readFrame(std::uint64_t n, std::uint8_t* out) const
{
    if (n < kept_)
        base_->readFrame(n, out);
    else
        std::memcpy(out, bytes_.data() + (n - kept_) * dat::kFrameBytes, dat::kFrameBytes);
}

FramePosition WrittenTape::position(std::uint64_t n) const
{
    return n < kept_ ? base_->position(n) : positions_[n - kept_];
}

void WrittenTape::write(std::uint64_t at, const std::uint8_t* frame)
{
    if (at < kept_) {
        kept_ = at;
        bytes_.clear();
        positions_.clear();
    } else {
        positions_.resize(std::min<std::uint64_t>(positions_.size(), at - kept_));
        bytes_.resize(positions_.size() * dat::kFrameBytes);
    }
    const FramePosition before = at == 0 ? FramePosition{} : position(at - 1);
    bytes_.insert(bytes_.end(), frame, frame + dat::kFrameBytes);
    positions_.push_back(PositionOf(frame, before));
}

Status SaveFrameDump(const Tape& tape, const std::string& path)
{
    const std::filesystem::path target(path);
    std::string temp = (target.parent_path() / ("." + target.filename().string() + ".XXXXXX")).string();
    if (target.parent_path().empty())
        temp = "." + target.filename().string() + ".XXXXXX";
    const int fd = ::mkstemp(temp.data());
    if (fd < 0)
        return Status::Error("cannot save the tape to " + path + ": " + std::strerror(errno));
    std::vector<std::uint8_t> frame(dat::kFrameBytes);
    bool ok = ::fchmod(fd, 0644) == 0;
    for (std::uint64_t n = 0; ok && n < tape.frameCount(); ++n) {
        tape.readFrame(n, frame.data());
        ok = WriteAll(fd, frame.data(), frame.size());
    }
    ok = ok && ::fsync(fd) == 0;
    const int err = errno;
    ok = ::close(fd) == 0 && ok;
    if (!ok || ::rename(temp.c_str(), path.c_str()) != 0) {
        const std::string why = std::strerror(ok ? errno : err);
        ::unlink(temp.c_str());
        return Status::Error("cannot save the tape to " + path + ": " + why);
    }
    // The rename itself is made durable with the folder.
    const std::string dir = target.parent_path().empty() ? "." : target.parent_path().string();
    if (const int d = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC); d >= 0) {
        ::fsync(d);
        ::close(d);
    }
    return Status::Ok();
}

}  // namespace sim
