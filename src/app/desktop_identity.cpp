#include "app/desktop_identity.h"

#include <QApplication>
#include <QIcon>

// Outside any namespace, as Qt requires: the icons live in a static library, and without a
// reference the linker would drop them.
static void InitIconResources() { Q_INIT_RESOURCE(vantrel_icons); }

void ApplyDesktopIdentity()
{
    InitIconResources();
    QGuiApplication::setDesktopFileName(QString::fromLatin1(kDesktopId));
    // Both sizes, so that neither the title bar nor the task switcher has to scale from the other.
    QIcon icon;
    icon.addFile(QStringLiteral(":/icons/48/io.github.vantrel.Vantrel.png"), QSize(48, 48));
    icon.addFile(QStringLiteral(":/icons/128/io.github.vantrel.Vantrel.png"), QSize(128, 128));
    QApplication::setWindowIcon(icon);
}
