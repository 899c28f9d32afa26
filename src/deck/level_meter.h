// The level meters under the deck's status line: one bar per channel, the peak of the sound
// the device's output plays now, in dBFS from -60 to 0, with the highest peak of the last
// moments held as a mark.
#pragma once

#include <QElapsedTimer>
#include <QWidget>
#include <cstdint>

class QTimer;

namespace deck {

class LevelMeter : public QWidget {
    Q_OBJECT
public:
    static constexpr double kFloorDb = -60;  // the bar's left end; anything lower shows nothing
    static constexpr qint64 kHoldMs = 1500;  // how long the mark stays at a peak

    // `channel` is the short label drawn at the left ("L", "R") and the start of the
    // accessible name.
    LevelMeter(const QString& channel, const QString& name, QWidget* parent);

    // A new peak magnitude (0 to 32768) at `nowMs` on a steady clock.
    void SetPeak(std::uint32_t peak, qint64 nowMs);
    // No sound: the bar and the mark go.
    void Clear();
    // The bar's and the mark's values in dBFS; minus infinity for silence.
    double LevelDb() const { return levelDb_; }
    double HoldDb() const { return holdDb_; }

    QSize sizeHint() const override;

    // dBFS of a peak magnitude; minus infinity for 0.
    static double DbOf(std::uint32_t peak);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    // The accessible description, at most every kDescribeMs while the sound goes on (a screen
    // reader has no use for 30 changes a second), at once when it falls silent.
    static constexpr qint64 kDescribeMs = 250;
    void Describe(qint64 nowMs);
    QRect BarRect() const;
    int XOf(double db) const;
    // What the bar shows in pixels: a new value that does not move it is not painted.
    struct Drawn {
        int level = -1, hold = -1;
        bool loud = false;
        bool operator==(const Drawn&) const = default;
    };
    Drawn DrawnNow() const;

    QString channel_;
    double levelDb_;
    double holdDb_;
    qint64 holdSince_ = 0;
    QString described_;
    qint64 describedAt_ = 0;
};

// Feeds both meters from the sound at the device's output, about 30 times a second, while
// the deck plays; once nothing plays any more the meters clear and the feed rests.
class MeterFeed : public QObject {
    Q_OBJECT
public:
    static constexpr int kIntervalMs = 30;

    MeterFeed(LevelMeter* left, LevelMeter* right, QObject* parent);
    // Playback is starting: the feed runs until it has ended.
    void Start();
    bool Running() const;
    // One look at the sound (the timer's tick; tests call it at the positions they set).
    void Sample();

private:
    LevelMeter* left_;
    LevelMeter* right_;
    QTimer* timer_;
    QElapsedTimer clock_;
};

}  // namespace deck
