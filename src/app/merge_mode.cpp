// --merge=DIR ... --archive=OUT: several archive packages of one tape into one, with one
// progress line on stderr and a summary. No drive and no bus are used.
#include <csignal>
#include <cstdio>
#include <string>

#include "app/progress_line.h"
#include "app/run_modes.h"
#include "archive/merge.h"

namespace {

constexpr int kExitFailure = 1;
constexpr int kExitWithErrors = 3;

std::string ProgressText(const archive::Progress& p)
{
    char line[200];
    std::snprintf(line, sizeof line, "%s: %s, %llu frames, %.1f MB", p.phase,
                  p.absoluteTime.empty() ? "-:--:--" : p.absoluteTime.c_str(),
                  static_cast<unsigned long long>(p.frames), static_cast<double>(p.tapeBytes) / 1e6);
    return line;
}

volatile std::sig_atomic_t g_stop = 0;

void RequestStop(int) { g_stop = 1; }

}  // namespace

int RunMergeMode(const Options& options)
{
    // A file-size limit is a write error the package reports, not a signal that ends the process.
    std::signal(SIGXFSZ, SIG_IGN);
    archive::MergeOptions o;
    o.sources = options.mergeDirs;
    o.dir = options.archiveDir;
    o.force = options.force;
    // Ctrl-C or SIGTERM stops the merge at the next frame and leaves a valid, incomplete package.
    o.stop = &g_stop;
    std::signal(SIGINT, RequestStop);
    std::signal(SIGTERM, RequestStop);
    std::fprintf(stderr, "Merging %zu packages into %s (Ctrl-C stops and leaves an incomplete package)...\n",
                 o.sources.size(), o.dir.c_str());
    ProgressLine progress(ProgressLine::First::AtOnce, "\033[K");
    const archive::Result r = archive::Merge(o, [&](const archive::Progress& p) {
        if (progress.Due())
            progress.Show(ProgressText(p));
    });
    progress.End();
    if (r.outcome == archive::Outcome::Refused) {
        std::fprintf(stderr, "vantrel: %s\n", r.message.c_str());
        return kExitFailure;
    }
    for (const std::string& line : r.summary)
        std::fprintf(stderr, "%s\n", line.c_str());
    switch (r.outcome) {
    case archive::Outcome::Clean:
        return 0;
    case archive::Outcome::WithErrors:
        return kExitWithErrors;
    default:
        std::fprintf(stderr, "vantrel: the merged package is incomplete: %s\n", r.message.c_str());
        return kExitFailure;
    }
}
