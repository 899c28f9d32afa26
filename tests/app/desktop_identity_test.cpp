// The running program and the installed desktop files must name the same desktop entry and
// carry the same icon, or the taskbar shows a generic window apart from the menu entry.
#include <QApplication>
#include <QFile>
#include <QIcon>
#include <QImage>
#include <QPixmap>
#include <QString>
#include <QStringList>
#include <gtest/gtest.h>

#include "app/desktop_identity.h"

namespace {

const QString kPackaging = QStringLiteral(VANTREL_SOURCE_DIR "/packaging/");

QStringList Lines(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return {};
    return QString::fromUtf8(file.readAll()).split('\n');
}

TEST(DesktopIdentity, WindowsNameTheInstalledEntryAndShowItsIcon)
{
    ApplyDesktopIdentity();
    const QString id = QGuiApplication::desktopFileName();
    EXPECT_EQ(id, QString::fromLatin1(kDesktopId));

    // The entry the menu shows is the file of that name, and it names the same icon.
    const QStringList entry = Lines(kPackaging + id + ".desktop");
    ASSERT_FALSE(entry.isEmpty()) << "no desktop entry " << (id + ".desktop").toStdString();
    EXPECT_TRUE(entry.contains("Icon=" + id));
    EXPECT_TRUE(entry.contains("Exec=vantrel"));
    EXPECT_TRUE(entry.contains("Exec=vantrel --console"));
    EXPECT_TRUE(QFile::exists(kPackaging + "icons/" + id + ".svg"));
    EXPECT_FALSE(Lines(kPackaging + id + ".metainfo.xml.in").filter("<id>" + id + "</id>").isEmpty());

    // The window icon comes from the resources in both sizes, each drawn at its own size.
    const QIcon icon = QApplication::windowIcon();
    ASSERT_FALSE(icon.isNull());
    for (int size : {48, 128}) {
        SCOPED_TRACE(size);
        EXPECT_TRUE(icon.availableSizes().contains(QSize(size, size)));
        const QImage image = icon.pixmap(QSize(size, size)).toImage();
        EXPECT_EQ(image.size(), QSize(size, size));
        const QImage file(kPackaging + QString("icons/%1/%2.png").arg(size).arg(id));
        ASSERT_FALSE(file.isNull());
        EXPECT_EQ(image.convertToFormat(QImage::Format_ARGB32_Premultiplied), file.convertToFormat(QImage::Format_ARGB32_Premultiplied));
    }
}

}  // namespace
