// Runs a test's step after each progress update of the deck's Archive Tape window, from the
// moment the window is shown, until the step returns true.
#pragma once

#include <QApplication>
#include <QEvent>
#include <functional>
#include <utility>

#include "deck/archive_window.h"

struct ArchiveProgressSpy : QObject {
    std::function<bool()> step;

    void start(std::function<bool()> s)
    {
        step = std::move(s);
        qApp->installEventFilter(this);
    }

    bool eventFilter(QObject* o, QEvent* e) override
    {
        if (e->type() == QEvent::Show && o->objectName() == "frmArchive") {
            auto* w = static_cast<deck::ArchiveWindow*>(o);
            QObject::connect(w, &deck::ArchiveWindow::progressShown, w, [this] {
                if (step && step())
                    step = nullptr;
            });
        }
        return false;
    }
};
