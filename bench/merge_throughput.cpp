// What --merge costs against copying one package's tape.dat, in the same run: two packages
// of one 60-minute tape (six programs of ten minutes, 120000 frames), each with damage the
// other lacks, made with archive::Package and no drive; then merged into a third package
// (the comparison of every shared frame, tape.dat, the WAV files, the subcode log, the
// reports and the manifests), and tape.dat copied with read, write and fsync.
#include <QCoreApplication>
#include <QTemporaryDir>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <set>
#include <unistd.h>
#include <vector>

#include "archive/merge.h"
#include "archive/package.h"
#include "archive/package_io.h"
#include "dat/frame.h"
#include "dat/frame_builder.h"
#include "dat/time_code.h"
#include "platform/io/unique_fd.h"

namespace {

using Clock = std::chrono::steady_clock;
double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

constexpr std::uint32_t kFrames = 120000;  // 60 minutes at 33 1/3 frames a second
constexpr std::uint32_t kProgramFrames = kFrames / 6;

void BuildFrame(std::uint32_t n, std::uint8_t* frame)
{
    std::memset(frame, 0, dat::kFrameBytes);
    std::uint32_t noise = n * 2654435761u + 1;
    for (std::size_t i = 0; i < dat::kAudioAreaBytes; i += 4) {
        noise = noise * 1103515245 + 12345;
        std::memcpy(frame + i, &noise, 4);
    }
    const std::uint32_t k = n % kProgramFrames;
    const dat::ProgramNumber program = dat::ProgramNumber::Of(n / kProgramFrames + 1);
    dat::SubcodeWriter w{dat::MutableFrameBytes(frame, dat::kFrameBytes)};
    w.SetMainId({});
    w.AddTimePack(dat::PackItem::ProgramTime, program, 1, dat::TimeCodeOfIndex(k));
    w.AddTimePack(dat::PackItem::AbsoluteTime, program, 1, dat::TimeCodeOfIndex(n));
    w.SetSubId({.program = program, .start = k < 300});
}

// A package of the tape in which `lost` frames were not delivered and `concealed` ones were
// interpolated.
bool MakeSource(const std::string& dir, const std::set<std::uint32_t>& lost, const std::set<std::uint32_t>& concealed)
{
    ::Result<archive::Package> p = archive::Package::Create(dir);
    if (!p) {
        std::fprintf(stderr, "%s\n", p.error().c_str());
        return false;
    }
    std::vector<std::uint8_t> frame(dat::kFrameBytes);
    for (std::uint32_t n = 0; n < kFrames; ++n) {
        Status s = Status::Ok();
        if (lost.count(n)) {
            s = p->AppendLost(1, n);
        } else {
            BuildFrame(n, frame.data());
            if (concealed.count(n))
                frame[dat::kSubIdOffset + 3] = 0x60;
            s = p->Append(frame.data(),
                          archive::RecordOf(dat::Decode(dat::FrameBytes(frame.data(), dat::kFrameBytes))));
        }
        if (!s) {
            std::fprintf(stderr, "%s\n", s.error().c_str());
            return false;
        }
    }
    archive::RunFacts run;
    run.complete = true;
    return p->Finish(run).outcome != archive::Outcome::Incomplete;
}

bool CopyFile(const std::string& from, const std::string& to)
{
    UniqueFd in(::open(from.c_str(), O_RDONLY | O_CLOEXEC));
    UniqueFd out(::open(to.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
    if (!in || !out)
        return false;
    std::vector<char> buffer(1 << 20);
    for (;;) {
        const ssize_t n = ::read(in.get(), buffer.data(), buffer.size());
        if (n < 0)
            return false;
        if (n == 0)
            break;
        if (::write(out.get(), buffer.data(), static_cast<std::size_t>(n)) != n)
            return false;
    }
    return ::fsync(out.get()) == 0 && out.close();
}

}  // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    const std::string a = dir.filePath("a").toStdString(), b = dir.filePath("b").toStdString();
    std::printf("Making two 60-minute packages (%u frames each)...\n", kFrames);
    std::set<std::uint32_t> lostA, concealedB;
    for (std::uint32_t n = 1000; n < kFrames; n += 7919)
        lostA.insert(n);
    for (std::uint32_t n = 3000; n < kFrames; n += 6007)
        concealedB.insert(n);
    if (!MakeSource(a, lostA, {}) || !MakeSource(b, {}, concealedB))
        return 1;

    double copy = 1e9;
    auto copyOnce = [&] {
        const auto t0 = Clock::now();
        if (!CopyFile(a + "/data/tape.dat", dir.filePath("copy.dat").toStdString()))
            return false;
        copy = std::min(copy, Seconds(Clock::now() - t0));
        return true;
    };
    if (!copyOnce())
        return 1;
    archive::MergeOptions o;
    o.sources = {a, b};
    o.dir = dir.filePath("merged").toStdString();
    const auto t0 = Clock::now();
    std::string phase;
    std::vector<std::pair<std::string, double>> phases;  // when each began
    const archive::Result r = archive::Merge(o, [&](const archive::Progress& p) {
        if (phase != p.phase)
            phases.emplace_back(phase = p.phase, Seconds(Clock::now() - t0));
    });
    const double merge = Seconds(Clock::now() - t0);
    if (r.outcome != archive::Outcome::Clean) {
        std::fprintf(stderr, "the merge did not come out clean: %s\n", r.message.c_str());
        for (const std::string& l : r.summary)
            std::fprintf(stderr, "%s\n", l.c_str());
        return 1;
    }
    if (!copyOnce())
        return 1;
    // The bags' SHA-256 (the sources' tape.dat, the new tape.dat and WAV files) is most of it.
    const auto h0 = Clock::now();
    if (!archive::HashFile(a + "/data/tape.dat"))
        return 1;
    const double hash = Seconds(Clock::now() - h0);
    const double mb = double(kFrames) * dat::kFrameBytes / 1e6;
    std::printf("copy of tape.dat (%.0f MB, read, write, fsync): %.2f s (%.0f MB/s)\n", mb, copy, mb / copy);
    std::printf("merge of two packages into a third: %.2f s (%.0f x real time)\n", merge, 3600 / merge);
    std::printf("ratio merge / copy: %.1f\n", merge / copy);
    std::printf("SHA-256 of one tape.dat: %.2f s (%.1f x the copy); the merge hashes four such files\n", hash,
                hash / copy);
    // Opening (reading, decoding and hashing the sources), comparing, copying the frames,
    // and the package's own files.
    double from = 0;
    std::string name;
    for (const auto& [next, at] : phases) {
        if (!name.empty())
            std::printf("  %-22s %6.2f s (%.1f x the copy)\n", name.c_str(), at - from, (at - from) / copy);
        name = next;
        from = at;
    }
    std::printf("  %-22s %6.2f s (%.1f x the copy)\n", name.c_str(), merge - from, (merge - from) / copy);
    return 0;
}
