#include "app/progress_line.h"

#include <cstdio>
#include <unistd.h>

namespace {

constexpr qint64 kTtyIntervalMs = 250;
constexpr qint64 kLogIntervalMs = 10000;

}  // namespace

ProgressLine::ProgressLine(First first, const char* ttyTail)
    : tty_(::isatty(STDERR_FILENO) == 1), ttyTail_(ttyTail), shownAt_(first == First::AtOnce ? -100000 : 0)
{
    clock_.start();
}

bool ProgressLine::Due()
{
    const qint64 now = clock_.elapsed();
    if (now - shownAt_ < (tty_ ? kTtyIntervalMs : kLogIntervalMs))
        return false;
    shownAt_ = now;
    return true;
}

void ProgressLine::Show(const std::string& text)
{
    if (tty_)
        std::fprintf(stderr, "\r%s%s", text.c_str(), ttyTail_);
    else
        std::fprintf(stderr, "%s\n", text.c_str());
    shown_ = true;
}

void ProgressLine::End()
{
    if (tty_ && shown_)
        std::fputc('\n', stderr);
}
