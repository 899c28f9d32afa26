// How far an archive run has come and how long the rest will take, from its progress reports:
// the share of the recorded area read, and the time left at the speed the pass has kept so
// far. The progress window and the windowless progress line both show it.
//
//   archive::ProgressEstimate estimate;
//   estimate.Add(progress, secondsSinceStart);
//   if (const auto f = estimate.Fraction()) ...*f * 100 percent...
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>

#include "archive/archive.h"

namespace archive {

class ProgressEstimate {
public:
    // A progress report that arrived `now` seconds after some fixed start.
    void Add(const Progress& p, double now);

    // 0..1 of the recorded area read; nothing while its length is not known. In the retry
    // pass, 1.
    std::optional<double> Fraction() const;
    // Seconds until the pass reaches the end of the recorded area; nothing before a second of
    // reading has given a speed, or after the pass.
    std::optional<double> SecondsLeft() const;

private:
    std::uint64_t recorded_ = 0, at_ = 0;
    bool reading_ = false, passed_ = false;
    // The first report of the reading pass, from which the speed is measured.
    std::optional<std::pair<double, std::uint64_t>> first_;
    double now_ = 0;
};

// "1:02:03" of whole seconds, "0:00:45" below a minute.
std::string DurationText(double seconds);

}  // namespace archive
