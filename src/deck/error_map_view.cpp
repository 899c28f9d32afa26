#include "deck/error_map_view.h"

#include <QFile>
#include <QHelpEvent>
#include <QPainter>
#include <QToolTip>
#include <cmath>

namespace deck {

ErrorMapView::ErrorMapView(QWidget* parent) : QWidget(parent)
{
    setObjectName("mapArchive");
    setAccessibleName("Error map");
    QSizePolicy policy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    policy.setHeightForWidth(true);
    setSizePolicy(policy);
    setMinimumSize(480, static_cast<int>(std::ceil(480 * archive::kMapHeight / archive::kMapWidth)));
}

bool ErrorMapView::Load(const std::string& dir)
{
    shapes_.clear();
    QFile file(QString::fromStdString(dir + "/data/error-map.svg"));
    if (!file.open(QIODevice::ReadOnly))
        return false;
    ::Result<std::vector<archive::MapShape>> read = archive::ReadMapShapes(file.readAll().toStdString());
    if (!read)
        return false;
    shapes_ = std::move(*read);
    setAccessibleDescription(shapes_.empty() ? QString() : QString::fromStdString(shapes_.front().text));
    updateGeometry();
    update();
    return true;
}

double ErrorMapView::scale() const { return width() / archive::kMapWidth; }

int ErrorMapView::heightForWidth(int width) const
{
    return static_cast<int>(std::ceil(width * archive::kMapHeight / archive::kMapWidth));
}

QSize ErrorMapView::sizeHint() const { return {720, heightForWidth(720)}; }

void ErrorMapView::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.fillRect(rect(), Qt::white);
    p.scale(scale(), scale());
    p.setPen(Qt::NoPen);
    for (const archive::MapShape& s : shapes_) {
        const QColor colour(QString::fromStdString(s.fill));
        if (s.kind == archive::MapShape::Kind::Rect) {
            p.fillRect(QRectF(s.x, s.y, s.w, s.h), colour);
            continue;
        }
        QFont font = p.font();
        font.setPixelSize(static_cast<int>(std::lround(s.h)));
        p.setFont(font);
        p.setPen(colour);
        const QString text = QString::fromStdString(s.text);
        const double width = p.fontMetrics().horizontalAdvance(text);
        p.drawText(QPointF(s.middle ? s.x - width / 2 : s.x, s.y), text);
        p.setPen(Qt::NoPen);
    }
}

bool ErrorMapView::event(QEvent* event)
{
    if (event->type() != QEvent::ToolTip)
        return QWidget::event(event);
    const auto* help = static_cast<QHelpEvent*>(event);
    const QPointF at = QPointF(help->pos()) / scale();
    // The topmost mark under the pointer: marks are drawn after the tracks they sit on.
    for (auto it = shapes_.rbegin(); it != shapes_.rend(); ++it) {
        if (it->kind == archive::MapShape::Kind::Rect && !it->text.empty() &&
            QRectF(it->x, it->y, it->w, it->h).adjusted(-1, -1, 1, 1).contains(at)) {
            QToolTip::showText(help->globalPos(), QString::fromStdString(it->text), this);
            return true;
        }
    }
    QToolTip::hideText();
    event->ignore();
    return true;
}

}  // namespace deck
