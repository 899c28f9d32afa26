#include "deck/level_meter.h"

#include <QPaintEvent>
#include <QPainter>
#include <QTimer>
#include <cmath>
#include <limits>

#include "audio/playback.h"

namespace deck {
namespace {

constexpr double kSilence = -std::numeric_limits<double>::infinity();
constexpr int kLabelWidth = 12;

QString DbText(double db) { return std::isinf(db) ? QStringLiteral("silence") : QString::number(db, 'f', 1) + " dBFS"; }

}  // namespace

LevelMeter::LevelMeter(const QString& channel, const QString& name, QWidget* parent)
    : QWidget(parent), channel_(channel), levelDb_(kSilence), holdDb_(kSilence)
{
    setAccessibleName(name);
    setToolTip(name + ", peak level in dBFS (-60 to 0)");
    Describe(0);
}

double LevelMeter::DbOf(std::uint32_t peak)
{
    return peak == 0 ? kSilence : 20.0 * std::log10(static_cast<double>(peak) / 32768.0);
}

void LevelMeter::SetPeak(std::uint32_t peak, qint64 nowMs)
{
    const double db = DbOf(peak);
    const Drawn before = DrawnNow();
    // The mark rises with every higher peak and falls to the bar once it has stood its time.
    if (db > holdDb_ || nowMs - holdSince_ >= kHoldMs) {
        holdDb_ = db;
        holdSince_ = nowMs;
    }
    levelDb_ = db;
    Describe(nowMs);
    if (DrawnNow() != before)
        update(BarRect());
}

void LevelMeter::Clear()
{
    if (std::isinf(levelDb_) && std::isinf(holdDb_))
        return;
    levelDb_ = holdDb_ = kSilence;
    Describe(describedAt_ + kDescribeMs);
    update(BarRect());
}

void LevelMeter::Describe(qint64 nowMs)
{
    const QString text = DbText(levelDb_) + ", peak " + DbText(holdDb_);
    if (text == described_ || (nowMs - describedAt_ < kDescribeMs && !std::isinf(levelDb_)))
        return;
    described_ = text;
    describedAt_ = nowMs;
    setAccessibleDescription(text);
}

QRect LevelMeter::BarRect() const { return {kLabelWidth, 0, width() - kLabelWidth, height()}; }

int LevelMeter::XOf(double db) const
{
    const QRect bar = BarRect();
    const double t = std::clamp((db - kFloorDb) / -kFloorDb, 0.0, 1.0);
    return bar.left() + static_cast<int>(std::lround(t * bar.width()));
}

LevelMeter::Drawn LevelMeter::DrawnNow() const
{
    return {levelDb_ > kFloorDb ? XOf(levelDb_) : -1, holdDb_ > kFloorDb ? XOf(holdDb_) : -1, holdDb_ > -6};
}

QSize LevelMeter::sizeHint() const { return {200, 8}; }

void LevelMeter::paintEvent(QPaintEvent* event)
{
    QPainter p(this);
    // The label is laid out only when it is to be painted: the bar's updates leave it be.
    const QRect label(0, 0, kLabelWidth, height());
    if (event->rect().intersects(label)) {
        p.setPen(palette().color(QPalette::WindowText));
        QFont f = font();
        f.setPixelSize(std::max(height() + 1, 6));
        p.setFont(f);
        p.drawText(label, Qt::AlignLeft | Qt::AlignVCenter, channel_);
    }

    const QRect bar = BarRect();
    p.fillRect(bar, QColor(38, 40, 44));  // the LED panel's own dark face
    const auto xOf = [&](double db) { return XOf(db); };
    // Green to -18 dBFS, amber to -6, red above: the usual zones of a digital meter.
    const struct {
        double from, to;
        QColor color;
    } zones[] = {{kFloorDb, -18, QColor(40, 200, 64)}, {-18, -6, QColor(232, 196, 40)}, {-6, 0, QColor(232, 56, 40)}};
    for (const auto& z : zones) {
        if (levelDb_ <= z.from)
            break;
        const int x0 = xOf(z.from), x1 = xOf(std::min(levelDb_, z.to));
        p.fillRect(QRect(x0, bar.top() + 1, x1 - x0, bar.height() - 2), z.color);
    }
    // Ticks every 10 dB.
    p.setPen(QColor(96, 100, 108));
    for (int db = -50; db < 0; db += 10)
        p.drawLine(xOf(db), bar.bottom() - 1, xOf(db), bar.bottom());
    if (holdDb_ > kFloorDb) {
        const int x = std::min(xOf(holdDb_), bar.right() - 1);
        p.fillRect(QRect(x - 1, bar.top(), 2, bar.height()),
                   holdDb_ > -6 ? QColor(255, 96, 80) : QColor(224, 228, 232));
    }
}

MeterFeed::MeterFeed(LevelMeter* left, LevelMeter* right, QObject* parent)
    : QObject(parent), left_(left), right_(right), timer_(new QTimer(this))
{
    timer_->setObjectName("tmrMeters");
    timer_->setInterval(kIntervalMs);
    connect(timer_, &QTimer::timeout, this, &MeterFeed::Sample);
    clock_.start();
}

void MeterFeed::Start() { timer_->start(); }

bool MeterFeed::Running() const { return timer_->isActive(); }

void MeterFeed::Sample()
{
    // The window matches the refresh: every instant played is looked at once, and a burst
    // that ends leaves the bar within one tick.
    if (const std::optional<ChannelPeaks> peaks = PeaksHeardNow(kIntervalMs + 5)) {
        const qint64 now = clock_.elapsed();
        left_->SetPeak(peaks->left, now);
        right_->SetPeak(peaks->right, now);
        return;
    }
    left_->Clear();
    right_->Clear();
    // A start waiting for the previous device plays soon: the feed waits with it.
    if (!PlayActive && !StartPending())
        timer_->stop();
}

}  // namespace deck
