#include "archive/progress_estimate.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace archive {

namespace {

constexpr double kSpeedAfterSeconds = 1.0;  // less reading than this gives no steady speed

}  // namespace

void ProgressEstimate::Add(const Progress& p, double now)
{
    now_ = now;
    reading_ = std::strcmp(p.phase, "reading") == 0;
    // The retry pass follows a whole pass; the package is written after a stop too, when the
    // share read is what there is.
    passed_ = passed_ || std::strcmp(p.phase, "retrying") == 0;
    recorded_ = p.recordedFrames;
    at_ = p.tapeFrame;
    if (reading_ && recorded_ > 0 && !first_)
        first_.emplace(now, at_);
}

std::optional<double> ProgressEstimate::Fraction() const
{
    if (passed_)
        return 1.0;
    if (recorded_ == 0)
        return std::nullopt;
    return std::min(1.0, static_cast<double>(at_) / static_cast<double>(recorded_));
}

std::optional<double> ProgressEstimate::SecondsLeft() const
{
    if (passed_ || !reading_ || recorded_ == 0 || !first_)
        return std::nullopt;
    const double seconds = now_ - first_->first;
    if (seconds < kSpeedAfterSeconds || at_ <= first_->second)
        return std::nullopt;
    const double framesPerSecond = static_cast<double>(at_ - first_->second) / seconds;
    const double left = at_ >= recorded_ ? 0.0 : static_cast<double>(recorded_ - at_);
    return left / framesPerSecond;
}

std::string DurationText(double seconds)
{
    const auto s = static_cast<long long>(std::llround(std::max(0.0, seconds)));
    char text[32];
    std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", s / 3600, s / 60 % 60, s % 60);
    return text;
}

}  // namespace archive
