// The wait of --capture and --archive for the drive to be ready with a tape: up to a minute,
// a line on stderr each time the reason changes, unit attentions asked again at once.
#pragma once

#include <QElapsedTimer>
#include <cstdint>

#include "transport/result_codes.h"

class TapeWait {
public:
    enum class Next { Ready, PollAgain, GiveUp };
    static constexpr long long kLimitMs = 60000;  // the minute the README promises

    TapeWait() { waited_.start(); }
    // What to do after a TestUnitReady that gave `code`.
    Next after(std::int32_t code);
    // After PollAgain: when to ask again, in milliseconds.
    int delayMs() const { return delayMs_; }

private:
    QElapsedTimer waited_;
    std::int32_t lastCode_ = kTurReady;  // the first other code is told
    int quickPolls_ = 0;
    int delayMs_ = 0;
};
