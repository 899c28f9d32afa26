#include "archive/archive.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <sstream>

#include "archive/package.h"
#include "archive/package_io.h"
#include "archive/tape_pass.h"

namespace archive {

namespace {

bool g_stop = false;

// A folder where a package was begun but the run was killed before its first checkpoint:
// data/, perhaps with an empty tape.dat, perhaps staged files; nothing of a tape.
bool Unbegun(const std::string& dir)
{
    const QDir top(QString::fromStdString(dir));
    if (!top.exists(QStringLiteral("data")))
        return false;
    const auto all = QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System;
    for (const QFileInfo& e : top.entryInfoList(all)) {
        if (e.isFile() && e.fileName().startsWith(QStringLiteral(".part-")))
            continue;
        if (e.isDir() && e.fileName() == QStringLiteral("data")) {
            for (const QFileInfo& d : QDir(e.filePath()).entryInfoList(all))
                if (d.fileName() != QStringLiteral("tape.dat") || !d.isFile() || d.size() != 0)
                    return false;
            continue;
        }
        return false;
    }
    return true;
}

// Clears what an unbegun package left, so that it can be begun again.
void ClearUnbegun(const std::string& dir)
{
    QDir top(QString::fromStdString(dir));
    for (const QString& name : top.entryList({".part-*"}, QDir::Files | QDir::Hidden | QDir::System))
        top.remove(name);
    QFile::remove(QString::fromStdString(dir + "/data/tape.dat"));
    top.rmdir(QStringLiteral("data"));
}

}  // namespace

std::string CheckTarget(const std::string& dir, bool resume)
{
    if (dir.empty())
        return "--archive needs a folder name.";
    const QFileInfo info(QString::fromStdString(dir));
    // A run killed before its package's first checkpoint left nothing to keep: begun again.
    if (Unbegun(dir))
        return {};
    if (resume) {
        if (!info.isDir())
            return "There is no package to resume in " + dir + ".";
        const std::string bagInfo = ReadText(dir + "/bag-info.txt");
        const std::string status = BagInfoValue(bagInfo, "Vantrel-Status");
        if (status.empty() || !QFileInfo::exists(QString::fromStdString(dir + "/data/tape.dat")))
            return dir + " does not hold a Vantrel archive package; it cannot be resumed.";
        if (status != "incomplete")
            return "The package in " + dir + " is already " + status + "; there is nothing to resume.";
        return {};
    }
    if (info.exists() && !info.isDir())
        return dir + " exists and is not a folder; the archive needs a new or empty folder.";
    if (info.isDir() && !QDir(info.filePath()).isEmpty(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System))
        return dir + " is not empty; the archive needs a new or empty folder, and nothing in it was changed. "
                     "(--resume continues an incomplete package.)";
    return {};
}

std::string CheckCassetteText(const std::string& text, bool id)
{
    const char* what = id ? "--id" : "--label";
    if (text.empty())
        return std::string(what) + " needs a text.";
    // bag-info takes one line per value; control characters would break it.
    for (const char c : text)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F)
            return std::string(what) + " must be one line of text, without control characters.";
    if (id && text.size() > 32)
        return "--id may be at most 32 bytes (it is the WAV files' OriginatorReference); this one has " +
               std::to_string(text.size()) + ".";
    if (!id && text.size() > 1000)
        return "--label may be at most 1000 bytes.";
    return {};
}

Result Run(const Options& options, const std::function<void(const Progress&)>& progress)
{
    g_stop = false;
    const std::string refusal = CheckTarget(options.dir, options.resume);
    if (!refusal.empty())
        return {Outcome::Refused, refusal, {}};
    const bool begin = !options.resume || Unbegun(options.dir);
    if (Unbegun(options.dir))
        ClearUnbegun(options.dir);
    ::Result<Package> package = begin ? Package::Create(options.dir) : Package::Load(options.dir);
    if (!package)
        return {Outcome::Refused, package.error(), {}};
    RunFacts run = ReadTape(*package, options, progress, g_stop);
    run.label = options.label.empty() ? package->label() : options.label;
    run.id = options.id.empty() ? package->id() : options.id;
    Result r = package->Finish(run);
    g_stop = false;
    return r;
}

void RequestStop() { g_stop = true; }

}  // namespace archive
