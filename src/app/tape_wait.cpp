#include "app/tape_wait.h"

#include <cstdio>

namespace {

constexpr int kPollMs = 1000;

const char* WaitReason(std::int32_t code)
{
    switch (code) {
    case kTurNoTape: return "a tape to be inserted";
    case kTurBecomingReady: return "the tape to become ready";
    case kTurMediumChanged: return "the drive to take up the new tape";
    case kTurReset: return "the drive to finish its reset";
    default: return "the drive to answer";
    }
}

}  // namespace

TapeWait::Next TapeWait::after(std::int32_t code)
{
    if (code == kTurReady)
        return Next::Ready;
    if (waited_.elapsed() >= kLimitMs)
        return Next::GiveUp;
    if (code != lastCode_)
        std::fprintf(stderr, "Waiting for %s (up to a minute)...\n", WaitReason(code));
    lastCode_ = code;
    // A unit attention is reported once: ask again at once, then at the poll interval.
    const bool attention = code == kTurMediumChanged || code == kTurReset;
    delayMs_ = attention && quickPolls_++ < 3 ? 0 : kPollMs;
    return Next::PollAgain;
}
