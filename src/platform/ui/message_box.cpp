#include "platform/ui/message_box.h"

#include <QApplication>
#include <QMessageBox>
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

}  // namespace

void ShowMessage(const std::string& text)
{
    if (State().sink) {
        State().sink(text);
        return;
    }
    if (qobject_cast<QApplication*>(QCoreApplication::instance())) {
        QMessageBox box(QMessageBox::NoIcon, QString::fromLatin1(kProgramTitle),
                        QString::fromStdString(text), QMessageBox::Ok);
        box.exec();
        return;
    }
    StderrSink()(text);
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
