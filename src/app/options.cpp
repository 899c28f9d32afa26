#include "app/options.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QStringList>
#include <algorithm>
#include <cctype>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <tuple>

#include "archive/archive.h"

namespace {

// QCommandLineParser has no optional values: --simulate=FILE and --capture=FILE are taken
// apart here, and the bare switch goes on to the parser.
void TakeInlineValue(QString& arg, const QString& name, std::optional<std::string>& value)
{
    const QString prefix = "--" + name + "=";
    if (arg.startsWith(prefix)) {
        value = arg.mid(prefix.size()).toStdString();
        arg = "--" + name;
    }
}

// Qt's standard options (QApplication and QGuiApplication): those that take a value, as
// the next argument or after '=', those that take one only after '=', and the bare ones.
constexpr const char* kQtValueOptions[] = {"style",         "stylesheet", "platform",        "platformpluginpath",
                                           "platformtheme", "plugin",     "qwindowgeometry", "qwindowicon",
                                           "qwindowtitle",  "session",    "display",         "geometry"};
constexpr const char* kQtEqualsOptions[] = {"qmljsdebugger", "dialogs", "fontengine"};
constexpr const char* kQtFlags[] = {"widgetcount", "reverse"};

}  // namespace

std::vector<std::string> WithoutQtOptions(const std::vector<std::string>& args)
{
    std::vector<std::string> kept;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (i == 0 || a.size() < 2 || a[0] != '-') {
            kept.push_back(a);
            continue;
        }
        const std::string name = a.substr(a[1] == '-' ? 2 : 1);
        const std::size_t equals = name.find('=');
        const std::string bare = name.substr(0, equals);
        bool qt = false, takesNext = false;
        for (const char* o : kQtValueOptions)
            if (bare == o) {
                qt = true;
                takesNext = equals == std::string::npos;
            }
        for (const char* o : kQtEqualsOptions)
            qt = qt || (bare == o && equals != std::string::npos);
        for (const char* o : kQtFlags)
            qt = qt || (name == o);
        if (!qt) {
            kept.push_back(a);
            continue;
        }
        if (takesNext && i + 1 < args.size())
            ++i;  // its value
    }
    return kept;
}

std::optional<dat::DateTime> ParseDateTime(const std::string& text)
{
    if (text.size() != 19)
        return std::nullopt;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const bool separator = i == 4 || i == 7 || i == 10 || i == 13 || i == 16;
        const char c = text[i];
        const char want = i == 4 || i == 7 ? '-' : i == 13 || i == 16 ? ':' : 0;
        if (separator ? (want ? c != want : (c != 'T' && c != ' ')) : !std::isdigit(static_cast<unsigned char>(c)))
            return std::nullopt;
    }
    dat::DateTime d;
    const auto number = [&](std::size_t at, std::size_t n) {
        return static_cast<unsigned>(std::stoul(text.substr(at, n)));
    };
    d.year = static_cast<int>(number(0, 4));
    d.month = number(5, 2);
    d.day = number(8, 2);
    d.hour = number(11, 2);
    d.minute = number(14, 2);
    d.second = number(17, 2);
    const std::chrono::year_month_day ymd{std::chrono::year{d.year} / std::chrono::month{d.month} /
                                          std::chrono::day{d.day}};
    if (!ymd.ok() || d.hour > 23 || d.minute > 59 || d.second > 59)
        return std::nullopt;
    return d;
}

ParseOutcome ParseCommandLine(const std::vector<std::string>& args)
{
    ParseOutcome out;
    QStringList list;
    std::optional<std::string> simulateFile, captureFile, archiveDir;
    std::vector<std::string> mergeDirs;
    for (std::size_t i = 0; i < args.size(); ++i) {
        QString a = QString::fromLocal8Bit(args[i].c_str());
        if (i > 0) {
            TakeInlineValue(a, "simulate", simulateFile);
            TakeInlineValue(a, "capture", captureFile);
            TakeInlineValue(a, "archive", archiveDir);
            std::optional<std::string> mergeDir;
            TakeInlineValue(a, "merge", mergeDir);
            if (mergeDir)
                mergeDirs.push_back(*mergeDir);
        }
        list << a;
    }

    QCommandLineParser parser;
    parser.setApplicationDescription(
        "Vantrel: plays and archives DAT audio tapes on an audio-capable SCSI DAT drive.\n"
        "Qt's standard options (-style, -stylesheet, -platform, -reverse, ...) are passed to Qt.");
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    const QCommandLineOption help({"h", "help"}, "Show this help and exit.");
    const QCommandLineOption version({"v", "version"}, "Show the version and exit.");
    const QCommandLineOption sim("simulate",
        "Use the built-in virtual SCSI bus instead of real drives. --simulate=FILE loads an "
        "audio file, a raw frame dump or a .json bus description.");
    const QCommandLineOption console("console", "Also show the diagnostic console window.");
    const QCommandLineOption trace("scsi-trace", "Write one line per SCSI request to FILE.", "FILE");
    const QCommandLineOption device("audio-device", "ALSA playback device (default \"default\").", "NAME");
    const QCommandLineOption scan("scan", "List the host adapters and devices, select the drive, and exit.");
    const QCommandLineOption cap("capture",
        "Capture the tape's audio without a window into \"Audio48.wav\" (or --capture=FILE).");
    const QCommandLineOption maxBad("max-bad-frames",
        "Stop playing or capturing after N unreadable frames in a row (default 100, about 3 seconds).", "N");
    const QCommandLineOption archive("archive",
        "Archive the tape without a window into the new or empty folder DIR (--archive=DIR): every frame, "
        "a Broadcast WAVE file per program, the subcode log, an error report and SHA-256 manifests.");
    const QCommandLineOption fromHere("from-here", "With --archive: start where the tape is instead of rewinding.");
    const QCommandLineOption resume("resume", "With --archive: continue the incomplete package in DIR.");
    const QCommandLineOption retries("retries",
        "With --archive: read damaged places again N times after the pass (default 1, 0 for none).", "N");
    const QCommandLineOption lpLayout(
        "lp-layout",
        "How long-play and four-channel tapes pack their 12-bit samples: auto (found from the sound, "
        "the default), a, b, a-swapped or b-swapped.",
        "LAYOUT");
    const QCommandLineOption merge(
        "merge", "Merge the archive package DIR with the others given (--merge=DIR, two or more) into the package "
                 "of --archive=OUT: the best copy of every frame, matched by absolute time. No drive is used.");
    const QCommandLineOption force("force",
                                   "With --merge: merge packages even when they do not seem to hold the same tape.");
    parser.addOptions({help, version, sim, console, trace, device, scan, cap, maxBad, archive, fromHere, resume, retries});
    parser.addOptions({merge, force});
    const QCommandLineOption label(
        "label",
        "With --archive: the cassette's label, kept in bag-info (External-Description) and each WAV's description.",
        "TEXT");
    const QCommandLineOption id(
        "id",
        "With --archive: the cassette's identifier (at most 32 bytes), kept in bag-info (External-Identifier) and "
        "each WAV's OriginatorReference.",
        "TEXT");
    parser.addOptions({label, id});
    const QCommandLineOption maxSkips(
        "max-skips",
        "With --archive: after --max-bad-frames failed reads at one place, locate past the damage (a second "
        "further each time) and read on, at N places at most (default 10, 0 to stop at the first).",
        "N");
    parser.addOption(maxSkips);
    parser.addOption(lpLayout);
    const QCommandLineOption record(
        "record",
        "Record the audio file FILE onto the tape without a window (repeat it for more programs, in order): "
        "WAV/BWF, FLAC or AIFF, all 16-bit at one rate of 48000, 44100 or 32000 Hz; then read the tape back "
        "to verify it.",
        "FILE");
    const QCommandLineOption emphasis("emphasis",
                                      "With --record: mark the tape as emphasized (the samples are written as given).");
    const QCommandLineOption startId(
        "start-id-seconds", "With --record: the start ID's length at each program's start (default 9, at least 9).",
        "N");
    const QCommandLineOption date("date", "With --record: the date pack's time at absolute time 0 (default: now).",
                                  "YYYY-MM-DDTHH:MM:SS");
    const QCommandLineOption gap(
        "gap", "With --record: silence added at the end of each program but the last (default 0).", "SECONDS");
    const QCommandLineOption overwrite("overwrite", "With --record: record over a tape that is not blank.");
    const QCommandLineOption noVerify("no-verify", "With --record: do not read the tape back after recording.");
    parser.addOptions({record, emphasis, startId, date, gap, overwrite, noVerify});

    if (!parser.parse(list)) {
        out.kind = ParseOutcome::Error;
        out.text = parser.errorText().toStdString();
        return out;
    }
    if (parser.isSet(help)) {
        out.kind = ParseOutcome::Help;
        // Without a QCoreApplication the parser cannot know the program name.
        out.text = parser.helpText().replace("<executable_name>", "vantrel").trimmed().toStdString();
        return out;
    }
    if (parser.isSet(version)) {
        out.kind = ParseOutcome::Version;
        out.text = "vantrel " + QCoreApplication::applicationVersion().toStdString();
        return out;
    }
    if (!parser.positionalArguments().isEmpty()) {
        out.kind = ParseOutcome::Error;
        out.text = "Unexpected argument '" + parser.positionalArguments().first().toStdString() + "'.";
        return out;
    }
    if ((simulateFile && simulateFile->empty()) || (captureFile && captureFile->empty()) ||
        (archiveDir && archiveDir->empty())) {
        out.kind = ParseOutcome::Error;
        out.text = "Missing file name after '='.";
        return out;
    }
    Options& o = out.options;
    o.simulate = parser.isSet(sim);
    o.simulateFile = simulateFile.value_or("");
    o.capture = parser.isSet(cap);
    if (captureFile)
        o.captureFile = *captureFile;
    o.console = parser.isSet(console);
    o.scan = parser.isSet(scan);
    if (parser.isSet(trace))
        o.traceFile = parser.value(trace).toStdString();
    if (parser.isSet(device))
        o.audioDevice = parser.value(device).toStdString();
    if (parser.isSet(device) && o.audioDevice.empty()) {
        out.kind = ParseOutcome::Error;
        out.text = "--audio-device needs a device name.";
        return out;
    }
    if (parser.isSet(maxBad)) {
        bool ok = false;
        const uint value = parser.value(maxBad).toUInt(&ok);
        if (!ok || value == 0 || value > 1000000) {
            out.kind = ParseOutcome::Error;
            out.text = "--max-bad-frames needs a whole number from 1 to 1000000.";
            return out;
        }
        o.maxBadFrames = value;
    }
    if (parser.isSet(lpLayout)) {
        const std::string name = parser.value(lpLayout).toStdString();
        o.lpLayout = dat::LayoutNamed(name);
        if (!o.lpLayout && name != "auto") {
            out.kind = ParseOutcome::Error;
            out.text = "--lp-layout needs auto, a, b, a-swapped or b-swapped, not '" + name + "'.";
            return out;
        }
    }
    o.archive = parser.isSet(archive);
    if (o.archive && !archiveDir) {
        out.kind = ParseOutcome::Error;
        out.text = "--archive needs a folder: --archive=DIR.";
        return out;
    }
    o.archiveDir = archiveDir.value_or("");
    o.fromHere = parser.isSet(fromHere);
    o.resume = parser.isSet(resume);
    if (parser.isSet(retries)) {
        bool ok = false;
        const uint value = parser.value(retries).toUInt(&ok);
        if (!ok || value > 100) {
            out.kind = ParseOutcome::Error;
            out.text = "--retries needs a whole number from 0 to 100.";
            return out;
        }
        o.retries = value;
    }
    if (parser.isSet(maxSkips)) {
        bool ok = false;
        const uint value = parser.value(maxSkips).toUInt(&ok);
        if (!ok || value > 1000) {
            out.kind = ParseOutcome::Error;
            out.text = "--max-skips needs a whole number from 0 to 1000.";
            return out;
        }
        o.maxSkips = value;
        if (!o.archive || parser.isSet(merge)) {
            out.kind = ParseOutcome::Error;
            out.text = "--max-skips goes with --archive (not with --merge).";
            return out;
        }
    }
    if (!o.archive && (o.fromHere || o.resume || parser.isSet(retries))) {
        out.kind = ParseOutcome::Error;
        out.text = "--from-here, --resume and --retries go with --archive.";
        return out;
    }
    for (const auto& [option, into, isId] : {std::tuple{&label, &o.label, false}, std::tuple{&id, &o.id, true}}) {
        if (!parser.isSet(*option))
            continue;
        *into = parser.value(*option).toStdString();
        std::string refusal = archive::CheckCassetteText(*into, isId);
        if (refusal.empty() && (!o.archive || parser.isSet(merge)))
            refusal = "--label and --id go with --archive (not with --merge).";
        if (!refusal.empty()) {
            out.kind = ParseOutcome::Error;
            out.text = refusal;
            return out;
        }
    }
    if (o.fromHere && o.resume) {
        out.kind = ParseOutcome::Error;
        out.text = "--from-here and --resume cannot be used together: a resume starts after the package's last frame.";
        return out;
    }
    if (parser.isSet(merge) || parser.isSet(force)) {
        o.mergeDirs = mergeDirs;
        o.force = parser.isSet(force);
        const char* refusal = nullptr;
        if (std::any_of(mergeDirs.begin(), mergeDirs.end(), [](const std::string& d) { return d.empty(); }) ||
            mergeDirs.size() != static_cast<std::size_t>(parser.optionNames().count("merge")))
            refusal = "--merge needs a package folder: --merge=DIR.";
        else if (mergeDirs.empty())
            refusal = "--force goes with --merge.";
        else if (mergeDirs.size() < 2)
            refusal = "--merge needs two or more packages: --merge=DIR --merge=DIR ... --archive=OUT.";
        else if (!o.archive)
            refusal = "--merge needs --archive=OUT, the new or empty folder of the merged package.";
        else if (o.fromHere || o.resume || parser.isSet(retries) || o.scan || o.capture || o.simulate)
            refusal = "--merge reads no drive: it cannot be used with --from-here, --resume, --retries, --scan, "
                      "--capture or --simulate.";
        if (refusal) {
            out.kind = ParseOutcome::Error;
            out.text = refusal;
            return out;
        }
    }
    for (const QString& file : parser.values(record))
        o.recordFiles.push_back(file.toStdString());
    const auto refuse = [&](const std::string& text) {
        out.kind = ParseOutcome::Error;
        out.text = text;
        return out;
    };
    if (std::any_of(o.recordFiles.begin(), o.recordFiles.end(), [](const std::string& f) { return f.empty(); }))
        return refuse("--record needs a file: --record=FILE.");
    const bool recording = !o.recordFiles.empty();
    if (!recording && (parser.isSet(emphasis) || parser.isSet(startId) || parser.isSet(date) || parser.isSet(gap) ||
                       parser.isSet(overwrite) || parser.isSet(noVerify)))
        return refuse("--emphasis, --start-id-seconds, --date, --gap, --overwrite and --no-verify go with --record.");
    if (recording && (o.scan || o.capture || o.archive || !mergeDirs.empty()))
        return refuse("--record cannot be used with --scan, --capture, --archive or --merge.");
    o.emphasis = parser.isSet(emphasis);
    o.overwrite = parser.isSet(overwrite);
    o.verify = !parser.isSet(noVerify);
    if (parser.isSet(startId)) {
        bool ok = false;
        const uint value = parser.value(startId).toUInt(&ok);
        if (!ok || value < 9 || value > 3600)
            return refuse("--start-id-seconds needs a whole number of seconds from 9 to 3600.");
        o.startIdSeconds = value;
    }
    if (parser.isSet(date)) {
        o.recordDate = ParseDateTime(parser.value(date).toStdString());
        if (!o.recordDate)
            return refuse("--date needs a date and time that exists, as YYYY-MM-DDTHH:MM:SS, not '" +
                          parser.value(date).toStdString() + "'.");
    }
    if (parser.isSet(gap)) {
        bool ok = false;
        const double value = parser.value(gap).toDouble(&ok);
        if (!ok || !std::isfinite(value) || value < 0 || value > 3600)
            return refuse("--gap needs a number of seconds from 0 to 3600.");
        o.gapSeconds = value;
    }
    if (int(o.scan) + int(o.capture) + int(o.archive) > 1) {
        out.kind = ParseOutcome::Error;
        out.text = o.archive ? "--archive cannot be used with --scan or --capture."
                             : "--scan and --capture cannot be used together.";
    }
    return out;
}
