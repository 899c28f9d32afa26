// A package's files as --resume and a merge read them: bag-info.txt, data/report.json,
// data/subcode.csv, the manifests and data/tape.dat. The input is those files in that order,
// separated by lines "##"; the last part is the subcode areas of tape.dat's frames, 62 bytes
// each. The package is checked, opened for a merge, loaded for a resume and finished.
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>

#include "archive/archive.h"
#include "archive/package.h"
#include "fuzz/fuzz_input.h"

namespace {

const std::string& Folder()
{
    static const std::string folder = [] {
        const char* tmp = std::getenv("TMPDIR");
        std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/vantrel-fuzz-XXXXXX";
        if (!::mkdtemp(pattern.data()))
            std::abort();
        return pattern;
    }();
    return folder;
}

void Write(const std::filesystem::path& path, std::string_view bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

// The package folder is removed at exit, not after each input, so the next input reuses it.
// It keeps its own copy of the name: statics are destroyed in the reverse order of their
// construction, and this one is made first.
struct Cleanup {
    std::string dir;
    ~Cleanup()
    {
        std::error_code ignored;
        std::filesystem::remove_all(dir, ignored);
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static const Cleanup cleanup{Folder()};
    const std::filesystem::path root = std::filesystem::path(Folder()) / "package";
    std::error_code ignored;
    std::filesystem::remove_all(root, ignored);
    std::filesystem::create_directories(root / "data");

    static constexpr std::array<const char*, 5> kFiles{"bag-info.txt", "data/report.json", "data/subcode.csv",
                                                       "manifest-sha256.txt", "tagmanifest-sha256.txt"};
    const auto parts = fuzz::Split(data, size, "\n##\n", kFiles.size() + 1);
    for (std::size_t i = 0; i < parts.size() && i < kFiles.size(); ++i)
        Write(root / kFiles[i], parts[i]);
    const std::string_view subcodes = parts.size() > kFiles.size() ? parts.back() : std::string_view();
    const std::vector<std::uint8_t> frames =
        fuzz::FramesFromSubcodes(reinterpret_cast<const std::uint8_t*>(subcodes.data()), subcodes.size(), 48);
    // An odd length cuts the last frame short, as a run that stopped mid-write leaves it.
    const std::size_t cut = subcodes.size() % 2 == 1 && !frames.empty() ? 100 : 0;
    Write(root / "data/tape.dat", std::string_view(reinterpret_cast<const char*>(frames.data()), frames.size() - cut));

    const std::string dir = root.string();
    (void)archive::CheckTarget(dir, true);
    {
        ::Result<archive::Package> source = archive::Package::OpenReadOnly(dir);
        if (source)
            (void)source->TapeSha256();
    }
    ::Result<archive::Package> package = archive::Package::Load(dir);
    if (package) {
        archive::RunFacts run;
        run.complete = true;
        (void)package->Finish(run);
    }
    return 0;
}
