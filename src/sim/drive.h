// The virtual DAT drive: one tape device on the virtual bus, answering the commands of an
// audio-capable drive with the sense data, tape states and timing of a real one.
#pragma once

#include <map>
#include <mutex>
#include <optional>

#include "platform/aspi/scsi_codes.h"
#include "sim/virtual_bus.h"
#include "sim/written_tape.h"

namespace sim {

// CHECK CONDITION with fixed-format sense; `residue` (bytes not transferred) goes into the
// information field when given. The drive and the bus around it build their sense here.
aspi::ExecResult CheckCondition(std::uint8_t senseKey, scsi::Asc code, std::uint32_t transferred = 0,
                                std::optional<std::uint32_t> residue = std::nullopt);

class Drive {
public:
    Drive(const DriveConfig& config, std::shared_ptr<Clock> clock, double readSpeed);
    // Saves the tape (saveTape) as the program ends.
    ~Drive();

    // Runs one command to its end; blocks for the time it takes. Worker thread only.
    aspi::ExecResult execute(const aspi::ExecRequest& request);

    // Test controls and inspection; any thread.
    void insert(std::shared_ptr<const Tape> tape);
    void remove();
    DriveState state();
    // Gone from the bus (vanishAfterReads): the bus no longer reports the device. Any thread.
    bool vanished();

private:
    struct Outcome {
        aspi::ExecResult result;
        double seconds = 0;  // how long the command takes, waited for outside the lock
    };
    struct Sense {
        std::uint8_t key;
        scsi::Asc code;
    };

    Outcome run(const aspi::ExecRequest& request, double now);
    std::optional<Sense> notReady(double now) const;
    void refresh(double now);
    void load(std::shared_ptr<const Tape> tape, double at);

    Outcome modeSelect(const aspi::ExecRequest& request);
    Outcome modeSense(const aspi::ExecRequest& request);
    Outcome read(const aspi::ExecRequest& request);
    Outcome write(const aspi::ExecRequest& request);
    // The tape in the drive or its door, to saveTape.
    void save(const std::shared_ptr<const Tape>& tape) const;
    Outcome locate(const aspi::ExecRequest& request);
    Outcome readPosition(const aspi::ExecRequest& request);
    Outcome loadUnload(const aspi::ExecRequest& request, double now);
    Outcome readBlockLimits(const aspi::ExecRequest& request);
    Outcome inquiry(const aspi::ExecRequest& request);

    void conceal(std::uint64_t n, std::uint8_t* frame) const;
    double travelSeconds(std::uint64_t from, std::uint64_t to) const;
    // How long frame n < the tape's frameCount() takes to pass the head.
    double frameSeconds(std::uint64_t n) const;
    void moveTo(std::uint64_t frame, Outcome& outcome);

    // Immutable.
    const DriveConfig config_;
    const std::shared_ptr<Clock> clock_;
    const double readSpeed_;

    // Guarded by mutex_ (commands on the worker thread, controls from tests).
    std::mutex mutex_;
    bool powerOnAttention_ = true;
    bool mediumChanged_ = false;
    std::shared_ptr<const Tape> tape_;
    std::shared_ptr<WrittenTape> written_;  // tape_ once something was written on it
    double readyAt_ = 0;
    std::shared_ptr<const Tape> ejected_;  // waiting to be inserted again
    std::optional<double> reinsertAt_;
    std::uint64_t frame_ = 0;
    std::uint8_t modeDensity_ = 0;
    bool bufferedMode_ = true;
    std::uint32_t blockLength_ = 512;
    bool prevented_ = false;
    std::uint64_t framesRead_ = 0;
    std::optional<std::uint64_t> retryFrame_;  // the retry-error frame now being failed
    std::uint32_t retryFailures_ = 0;          // its failed READs on this pass
    std::uint64_t pass_ = 0;                   // counts loads, rewinds and locates
    struct Flaky {
        std::uint64_t lastPass = 0;  // the pass that last read over it
        std::uint32_t passes = 0;    // passes that have read over it
    };
    std::map<std::uint64_t, Flaky> flaky_;  // flakyFrames read over so far
    std::uint64_t readCommands_ = 0;
    bool vanished_ = false;
    bool lossReported_ = false;  // the first command after vanishing has been answered
};

}  // namespace sim
