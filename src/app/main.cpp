// vantrel: parses the command line, chooses what the manager talks to (real drives through
// the sg driver, or the virtual bus), and runs the deck, --scan or --capture.
#include <QApplication>
#include <QCoreApplication>
#include <cstdio>
#include <memory>

#include "app/desktop_identity.h"
#include "app/options.h"
#include "app/run_modes.h"
#include "platform/aspi/backend.h"
#include "platform/aspi/sg_backend.h"
#include "sim/simulator.h"

namespace {

constexpr int kExitUsage = 2;

int Usage(const std::string& text)
{
    std::fprintf(stderr, "vantrel: %s\nTry 'vantrel --help'.\n", text.c_str());
    return kExitUsage;
}

}  // namespace

int main(int argc, char** argv)
{
    QCoreApplication::setApplicationName("vantrel");
    QCoreApplication::setApplicationVersion(VANTREL_VERSION);

    // Qt's own options (-style, -platform, ...) are the application object's: it takes them
    // from argv when it is made below. Ours are read first, without them, so that --help and
    // a bad command line need no display, and the mode tells which application to make.
    const std::vector<std::string> args(argv, argv + argc);
    const ParseOutcome parsed = ParseCommandLine(WithoutQtOptions(args));
    switch (parsed.kind) {
    case ParseOutcome::Help:
    case ParseOutcome::Version:
        std::printf("%s\n", parsed.text.c_str());
        return 0;
    case ParseOutcome::Error:
        return Usage(parsed.text);
    case ParseOutcome::Run:
        break;
    }
    const Options& options = parsed.options;
    // A merge reads packages only: no bus, no drive.
    if (!options.mergeDirs.empty()) {
        QCoreApplication app(argc, argv);
        return RunMergeMode(options);
    }

    std::unique_ptr<aspi::Backend> backend;
    if (options.simulate) {
        std::string error;
        backend = sim::CreateSimulatedBus(options.simulateFile, error);
        if (!backend)
            return Usage("--simulate: " + error);
    } else {
        backend = aspi::CreateSgBackend();
    }
    aspi::InstallBackend(std::move(backend));

    if (!options.traceFile.empty()) {
        std::string error;
        if (!aspi::OpenTrace(options.traceFile, error))
            return Usage("--scsi-trace: " + error);
    }

    int status;
    if (options.scan || options.capture || options.archive || !options.recordFiles.empty()) {
        QCoreApplication app(argc, argv);
        status = options.scan      ? RunScanMode(options)
                 : options.capture ? RunCaptureMode(options)
                 : options.archive ? RunArchiveMode(options)
                                   : RunRecordMode(options);
    } else {
        QApplication app(argc, argv);
        ApplyDesktopIdentity();
        status = RunDeckMode(options);
    }
    aspi::ShutdownManager();
    // The virtual bus goes now, not never: its drives save their tapes (save_tape) as they go.
    if (options.simulate)
        aspi::InstallBackend(nullptr);
    return status;
}
