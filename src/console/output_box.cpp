#include "console/output_box.h"

#include <QPainter>
#include <QStringList>

OutputBox::OutputBox(QWidget* parent) : QFrame(parent)
{
    setFrameStyle(QFrame::Panel | QFrame::Sunken);
    setLineWidth(2);
    setFocusPolicy(Qt::TabFocus);
}

void OutputBox::print(const QString& text, bool endLine)
{
    text_ += text;
    if (endLine)
        text_ += QLatin1Char('\n');
    update();
}

void OutputBox::print(const std::string& text, bool endLine) { print(QString::fromStdString(text), endLine); }

void OutputBox::clear()
{
    text_.clear();
    update();
}

void OutputBox::paintEvent(QPaintEvent* event)
{
    QFrame::paintEvent(event);
    QPainter painter(this);
    const QRect area = contentsRect();
    painter.setClipRect(area);
    painter.setPen(palette().color(QPalette::WindowText));
    const QFontMetrics metrics(font());
    int y = area.top() + metrics.ascent();
    // Lines that run past the bottom are cut off, as in a picture box; nothing scrolls.
    for (const QString& line : text_.split(QLatin1Char('\n'))) {
        if (y - metrics.ascent() > area.bottom())
            break;
        painter.drawText(area.left(), y, line);
        y += metrics.height();
    }
}
