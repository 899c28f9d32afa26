#include "platform/ui/message_box.h"

#include <QApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGridLayout>
#include <QMessageBox>
#include <QPushButton>
#include <QSpacerItem>
#include <algorithm>
#include <cstdio>
#include <cstdlib>

namespace ui {
namespace {

struct Dialogs {
    MessageSink sink;
    EndHandler end;
};

Dialogs& State()
{
    static Dialogs d;
    return d;
}

bool HaveWidgets() { return qobject_cast<QApplication*>(QCoreApplication::instance()) != nullptr; }

// The window a box belongs over: the one given, else the modal or active window, else the
// first one shown (a message at start-up, before anything has the focus).
QWidget* OwnerOf(QWidget* given)
{
    if (given && given->window()->isVisible())
        return given->window();
    if (QWidget* modal = QApplication::activeModalWidget())
        return modal;
    if (QWidget* active = QApplication::activeWindow())
        return active;
    for (QWidget* w : QApplication::topLevelWidgets())
        if (w->isVisible() && (w->windowType() == Qt::Window || w->windowType() == Qt::Dialog))
            return w;
    return nullptr;
}

// Window managers cut a title that does not fit beside their buttons ("Va...el"); a box
// sizes itself from its text only, so a spacer holds it open to the title's width.
constexpr int kTitleBarAllowance = 170;  // the window manager's buttons and margins
constexpr int kNarrowestBox = 260;

void WidenForTitle(QMessageBox& box)
{
    auto* grid = qobject_cast<QGridLayout*>(box.layout());
    if (!grid)
        return;
    const int width =
        std::max(kNarrowestBox, box.fontMetrics().horizontalAdvance(box.windowTitle()) + kTitleBarAllowance);
    grid->addItem(new QSpacerItem(width, 0, QSizePolicy::Minimum, QSizePolicy::Fixed), grid->rowCount(), 0, 1,
                  grid->columnCount());
}

QMessageBox::Icon BoxIcon(Icon icon)
{
    switch (icon) {
    case Icon::Information:
        return QMessageBox::Information;
    case Icon::Critical:
        return QMessageBox::Critical;
    case Icon::Warning:
        break;
    }
    return QMessageBox::Warning;
}

}  // namespace

void ShowMessage(const std::string& text, Icon icon, QWidget* parent)
{
    if (State().sink) {
        State().sink(text);
        return;
    }
    if (HaveWidgets()) {
        QMessageBox box(BoxIcon(icon), QString::fromLatin1(kProgramTitle), QString::fromStdString(text),
                        QMessageBox::Ok, OwnerOf(parent));
        box.setObjectName("msgBox");
        WidenForTitle(box);
        box.exec();
        return;
    }
    StderrSink()(text);
}

std::string KeptName(const std::string& path)
{
    const QFileInfo info(QString::fromStdString(path));
    const std::string stamp = info.lastModified().toString("yyyyMMdd-HHmmss").toStdString();
    const std::size_t slash = path.find_last_of('/');
    std::size_t dot = path.find_last_of('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash) || dot == slash + 1)
        dot = path.size();  // no extension (or a hidden file's leading dot)
    const std::string stem = path.substr(0, dot) + "-" + stamp, extension = path.substr(dot);
    std::string name = stem + extension;
    for (int n = 2; QFileInfo::exists(QString::fromStdString(name)); ++n)
        name = stem + "-" + std::to_string(n) + extension;
    return name;
}

bool ConfirmReplace(const std::string& path, QWidget* parent)
{
    const QString file = QString::fromStdString(path);
    const QFileInfo info(file);
    if (!info.exists() || !info.isFile() || !HaveWidgets())
        return true;
    const std::string kept = KeptName(path);
    const QString question =
        QString("\"%1\" is there already (%2 MB, saved %3).\n\nReplace it with the new capture, or keep both: "
                "the old one is renamed \"%4\"?")
            .arg(QDir::toNativeSeparators(info.absoluteFilePath()))
            .arg(static_cast<double>(info.size()) / 1e6, 0, 'f', 1)
            .arg(info.lastModified().toString("yyyy-MM-dd HH:mm:ss"))
            .arg(QFileInfo(QString::fromStdString(kept)).fileName());
    QMessageBox box(QMessageBox::Question, QString::fromLatin1(kProgramTitle), question, QMessageBox::NoButton,
                    OwnerOf(parent));
    box.setObjectName("msgReplace");
    QPushButton* replace = box.addButton("&Replace", QMessageBox::DestructiveRole);
    replace->setObjectName("cmdReplace");
    QPushButton* keepBoth = box.addButton("&Keep Both", QMessageBox::AcceptRole);
    keepBoth->setObjectName("cmdKeepBoth");
    QPushButton* cancel = box.addButton(QMessageBox::Cancel);
    cancel->setObjectName("cmdCancel");
    box.setDefaultButton(keepBoth);  // Return loses nothing
    box.setEscapeButton(cancel);
    WidenForTitle(box);
    box.exec();
    if (box.clickedButton() == replace)
        return true;
    if (box.clickedButton() != keepBoth)
        return false;
    QFile old(file);
    if (old.rename(QString::fromStdString(kept)))
        return true;
    ShowMessage("\"" + path + "\" could not be renamed to \"" + kept + "\": " + old.errorString().toStdString() +
                    ". Nothing was written.",
                Icon::Warning, parent);
    return false;
}

void EndProgram(int status)
{
    if (State().end) {
        State().end(status);
        return;
    }
    std::fflush(nullptr);
    std::exit(status);
}

void SetMessageSink(MessageSink sink) { State().sink = std::move(sink); }
MessageSink CurrentMessageSink() { return State().sink; }
void SetEndHandler(EndHandler handler) { State().end = std::move(handler); }

MessageSink StderrSink()
{
    return [](const std::string& text) { std::fprintf(stderr, "%s\n", text.c_str()); };
}

}  // namespace ui
