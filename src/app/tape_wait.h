// The wait of --capture and --archive for the drive to be ready with a tape: up to a minute,
// a line on stderr each time the reason changes, unit attentions asked again at once; and the
// session both modes run around it.
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

// A windowless mode's run: discovery (stopped by Ctrl-C, waiting while the drive becomes
// ready), then, in the event loop, the wait for a ready audio tape and the mode's work. A
// signal before the work ends the run with nothing done and exit status 1.
class TapeSession {
public:
    // How the messages name the work: "capture" and "captured", "archive" and "archived".
    TapeSession(const char* noun, const char* done) : noun_(noun), done_(done) {}
    virtual ~TapeSession() = default;

    // Runs the whole mode; returns the exit status.
    int run();

protected:
    // The tape is ready and in audio mode: do the work, then end().
    virtual void work() = 0;
    // A signal while working: stop the work (it then ends as a stop does). Whether a second
    // signal may end the program at once is the work's to say (ui::EndOnNextSignal).
    virtual void stopWork() = 0;
    // Whether the work takes a tape that is not an audio tape (and says so itself).
    virtual bool takesAnyTape() const { return false; }
    void end(int status);

private:
    void poll();
    void interrupt();

    const char* noun_;
    const char* done_;
    TapeWait wait_;
    bool working_ = false;
    bool interrupted_ = false;
    bool ended_ = false;
};
