// The virtual SCSI bus: host adapters, devices at targets, and audio-capable DAT drives that
// answer like real ones (sense data, tape states, timing). It is a manager backend.
//
// In a test:
//   sim::BusConfig config;                       // one adapter "VIRTUAL SCSI", ID 7, 8 targets
//   config.readSpeed = 0;                        // frames as fast as possible
//   config.clock = std::make_shared<sim::VirtualClock>();  // waits pass at once; advance()
//   sim::DriveConfig drive;                      // target 4, audio-capable, ready at power-on
//   drive.tape = sim::MakePcmTape({pcm});        // or MakeDemoTape(), MakeDataTape(), nullptr
//   config.adapters[0].devices.push_back(drive);
//   std::string error;
//   auto bus = sim::CreateBus(config, error);    // nullptr + error on a bad configuration
//   sim::Bus* drives = bus.get();                // keep it to inspect or change tapes
//   aspi::InstallBackend(std::move(bus));
// The first command to each drive gets UNIT ATTENTION 0x29 (power on); then a loaded tape is
// ready. A tape inserted later gives UNIT ATTENTION 0x28 once, then NOT READY 0x04/0x01 for
// becomingReadySeconds. Compare what a capture got with sim::FrameAudio(*tape, n).
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/aspi/backend.h"
#include "sim/clock.h"
#include "sim/tape.h"

namespace sim {

struct DriveConfig {
    std::uint8_t target = 4;
    std::uint8_t type = 1;                 // peripheral type; only 1 (tape) answers commands
    bool audio = true;                     // false: refuses the audio density 0x80
    std::shared_ptr<const Tape> tape;      // loaded at power-on; nullptr: no tape
    double becomingReadySeconds = 2;       // NOT READY 0x04/0x01 after an insertion
    std::optional<double> reinsertAfterEjectSeconds;  // the same tape comes back; none: never
    bool readyAtPowerOn = true;            // false: the power-on tape is becoming ready too
    std::vector<std::uint64_t> mediumErrors;  // frames whose READ fails with MEDIUM ERROR 0x11
    std::vector<std::uint64_t> concealed;     // frames delivered interpolated (sub ID flags set)
    // Frames delivered as clean with their audio altered: a drive that gets a frame wrong
    // without flagging it.
    std::vector<std::uint64_t> corruptFrames;
    // Frames whose READ fails with MEDIUM ERROR 0x11 this many times, the tape staying before
    // the frame, and then reads; every pass over the frame (after a locate or rewind) again.
    std::map<std::uint64_t, std::uint32_t> retryErrors;
    // Frames unreadable (MEDIUM ERROR 0x11, the tape moving on past them, as mediumErrors) on
    // this many passes over them, and clean on every later pass. A pass is the reading since
    // the last load, rewind or locate: a retry that locates before the frame reads it anew.
    std::map<std::uint64_t, std::uint32_t> flakyFrames;
    // The drive answers this many READ commands; from the next READ on, every command gets
    // SS_NO_DEVICE, as an unplugged drive does. None: it never goes.
    std::optional<std::uint64_t> vanishAfterReads;
    // A READ reaching this frame never completes: after the READ timeout on the clock it ends
    // as the sg driver ends a timed-out command (SS_ABORTED, host status DID_TIME_OUT).
    std::optional<std::uint64_t> readTimeoutAt;
    // Recording. The cassette's write-protect tab: every WRITE gets DATA PROTECT 0x27/0x00.
    bool writeProtected = false;
    // Frames whose WRITE fails with MEDIUM ERROR 0x0C/0x00 (nothing is written, the tape stays
    // before the frame), and frames written with their audio altered (found only by reading).
    std::vector<std::uint64_t> writeErrors;
    std::vector<std::uint64_t> writeCorrupt;
    // The cassette's length: a WRITE past it gets VOLUME OVERFLOW 0x00/0x02.
    double lengthMinutes = 120;
    // Non-empty: the tape's frames are saved there as a raw dump (crash-safe) when it is
    // ejected or taken out, and when the drive goes (the program's end).
    std::string saveTape;
    // What INQUIRY names: printable ASCII of at most 8, 16 and 4 characters.
    std::string vendor = "VANTREL";
    std::string product = "VIRTUAL DAT";
    std::string revision = "1.0";
};

struct AdapterConfig {
    std::string identifier = "VIRTUAL SCSI";
    std::uint8_t scsiId = 7;
    std::uint8_t targets = 8;
    std::vector<DriveConfig> devices;
};

struct BusConfig {
    std::uint8_t managerStatus = 1;  // what GetASPI32SupportInfo reports in bits 8-15
    // Multiple of real time for frame reads (a frame lasts as long as its sound); 0: as fast as possible, and
    // then locate, rewind, load and eject take no time either.
    double readSpeed = 2;
    std::vector<AdapterConfig> adapters{AdapterConfig{}};
    std::shared_ptr<Clock> clock;  // nullptr: a RealClock
};

// What a test may look at; a snapshot taken under the drive's lock.
struct DriveState {
    bool tapeLoaded = false;
    bool ready = false;             // loaded and past becoming ready
    std::uint64_t frame = 0;        // the next frame a READ delivers
    std::uint8_t modeDensity = 0;   // the density of the drive's mode
    bool removalPrevented = false;
    std::uint64_t framesRead = 0;   // frames delivered since power-on
    bool vanished = false;          // gone for good (vanishAfterReads)
};

class Drive;

class Bus final : public aspi::Backend {
public:
    explicit Bus(BusConfig config);
    ~Bus() override;

    std::uint32_t supportInfo() override;
    std::uint8_t inquiry(std::uint8_t adapter, aspi::AdapterInquiry& out) override;
    std::uint8_t deviceType(std::uint8_t adapter, std::uint8_t target, std::uint8_t lun,
                            std::uint8_t& type) override;
    aspi::ExecResult execute(const aspi::ExecRequest& request) override;
    void cancel() override;
    std::string adapterLocation(std::uint8_t adapter) override;
    std::string deviceLocation(std::uint8_t adapter, std::uint8_t target) override;

    // Test controls, any thread. False when there is no tape drive at that address.
    // Puts `tape` in as an operator would (any tape in the drive is taken out first).
    bool insertTape(std::uint8_t adapter, std::uint8_t target, std::shared_ptr<const Tape> tape);
    // Takes the tape out without a command (as if ejected by hand).
    bool removeTape(std::uint8_t adapter, std::uint8_t target);
    std::optional<DriveState> driveState(std::uint8_t adapter, std::uint8_t target);

private:
    Drive* find(std::uint8_t adapter, std::uint8_t target);

    const BusConfig config_;  // immutable
    std::vector<std::vector<std::unique_ptr<Drive>>> drives_;  // per adapter, type-1 devices
};

// Checks `config` (targets in range, no duplicates, tapes only on tape drives) and builds
// the bus. nullptr with `error` set when it is not sound.
std::unique_ptr<Bus> CreateBus(const BusConfig& config, std::string& error);

// The bus that --simulate without a file gives: the demo tape in an audio drive at target 4
// of "VIRTUAL SCSI" (ID 7, 8 targets), read speed 2, reinsertion 3 s after an eject.
BusConfig DefaultBusConfig();

// A bus description (JSON, paths relative to its folder) turned into a configuration.
// False with `error` naming the key on unknown keys and bad values.
bool ParseBusDescription(const std::string& jsonText, const std::string& baseDirectory,
                         BusConfig& config, std::string& error);

}  // namespace sim
