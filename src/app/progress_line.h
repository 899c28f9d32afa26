// The one progress line of a windowless run (--capture, --archive): rewritten in place on a
// terminal every quarter second, a line every 10 s otherwise, so that a log does not fill up.
//
//   ProgressLine line(ProgressLine::First::AtOnce, "\033[K");
//   if (line.Due()) line.Show(text);
//   line.End();  // before the summary
#pragma once

#include <QElapsedTimer>
#include <string>

class ProgressLine {
public:
    enum class First {
        AtOnce,         // the first line shows at the first update
        AfterInterval,  // the first line waits an interval as the others do
    };
    // `ttyTail` follows the text on a terminal, to wipe what a longer line left there.
    ProgressLine(First first, const char* ttyTail);

    // True when a line is due now; the next one is then an interval away.
    bool Due();
    void Show(const std::string& text);
    // Ends a rewritten line, so that what follows starts on a line of its own.
    void End();
    // Seconds since the line began.
    double ElapsedSeconds() const { return static_cast<double>(clock_.elapsed()) / 1000.0; }

private:
    bool tty_;
    const char* ttyTail_;
    QElapsedTimer clock_;
    qint64 shownAt_;
    bool shown_ = false;
};
