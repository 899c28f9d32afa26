#include "sim/drive.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "dat/audio_format.h"
#include "dat/frame.h"
#include "platform/aspi/sense.h"
#include <cstdio>

namespace sim {
namespace {

using namespace scsi::op;
using scsi::key::BlankCheck;
using scsi::key::IllegalRequest;
using scsi::key::MediumError;
using scsi::key::NotReady;
using scsi::key::UnitAttention;
namespace asc = scsi::asc;

constexpr double kSearchSpeed = 150;    // locate and rewind, times real time
constexpr double kSettleSeconds = 0.3;  // stopping and reading the subcode after a search
constexpr double kEjectSeconds = 3;
constexpr double kLoadSeconds = 2;

// Host statuses as the sg driver gives them for a device that went away and for a command
// the kernel aborted after its timeout.
constexpr std::uint8_t kHostNoConnect = 0x01;  // DID_NO_CONNECT
constexpr std::uint8_t kHostTimedOut = 0x03;   // DID_TIME_OUT

// The kernel timeout the sg backend gives a command, in seconds on the drive's clock.
double CommandTimeoutSeconds(std::uint8_t opcode) { return scsi::CommandTimeoutMs(opcode) / 1000.0; }

constexpr std::size_t kStandardInquiryLen = 36;

// Standard play's frame time: what a search counts the tape by, and how long a frame with no
// audio format (a data tape's, a reserved main ID) takes to pass the head.
double StandardFrameSeconds()
{
    static const double seconds = dat::StereoFormatAt(48000)->Seconds();
    return seconds;
}

// How long the frame in `bytes` takes to pass the head: its format's duration.
double FrameSeconds(const std::uint8_t* bytes)
{
    const std::optional<dat::AudioFormat> format = dat::FormatOf(dat::DecodeMainId(bytes + dat::kMainIdOffset));
    return format ? format->Seconds() : StandardFrameSeconds();
}

void PutPadded(std::uint8_t* to, std::size_t width, const std::string& text)
{
    std::memset(to, ' ', width);
    std::memcpy(to, text.data(), std::min(width, text.size()));
}

aspi::ExecResult Good(std::uint32_t transferred = 0)
{
    aspi::ExecResult r;
    r.transferred = transferred;
    return r;
}

aspi::ExecResult Check(std::uint8_t key, scsi::Asc code, std::uint32_t transferred = 0,
                       std::optional<std::uint32_t> residue = std::nullopt)
{
    return CheckCondition(key, code, transferred, residue);
}

aspi::ExecResult InvalidField() { return Check(IllegalRequest, asc::InvalidFieldInCdb); }
aspi::ExecResult InvalidParameter() { return Check(IllegalRequest, asc::InvalidFieldInParameterList); }
aspi::ExecResult IncompatibleMedium() { return Check(MediumError, asc::IncompatibleMediumFormat); }

bool KnownDataDensity(std::uint8_t d)
{
    // 0 is the drive's default; the rest are the DDS generations.
    return d == 0x00 || d == 0x13 || d == 0x24 || d == 0x25 || d == 0x26 || d == 0x30 || d == 0x40;
}

bool SameProgram(const FramePosition& pos, const std::uint8_t* digits)
{
    return pos.program[0] == digits[0] && pos.program[1] == digits[1] && pos.program[2] == digits[2];
}

// The fault lists sorted, for binary search on every frame.
DriveConfig WithSortedFaults(DriveConfig config)
{
    std::sort(config.mediumErrors.begin(), config.mediumErrors.end());
    std::sort(config.concealed.begin(), config.concealed.end());
    std::sort(config.corruptFrames.begin(), config.corruptFrames.end());
    std::sort(config.writeErrors.begin(), config.writeErrors.end());
    std::sort(config.writeCorrupt.begin(), config.writeCorrupt.end());
    return config;
}

// What a drive that misreads a frame without noticing delivers: some samples changed, the
// sub ID still saying the frame is sound.
void Corrupt(std::uint8_t* frame)
{
    const std::optional<dat::AudioFormat> format = dat::FormatOf(dat::DecodeMainId(frame + dat::kMainIdOffset));
    const std::size_t used = format ? format->audioBytes : dat::kAudioAreaBytes;
    for (std::size_t i = 0; i < used; i += 97)
        frame[i] ^= 0x5A;
}

}  // namespace

aspi::ExecResult CheckCondition(std::uint8_t senseKey, scsi::Asc code, std::uint32_t transferred,
                                std::optional<std::uint32_t> residue)
{
    aspi::ExecResult r;
    r.srbStatus = SS_ERR;
    r.targStat = scsi::status::CheckCondition;
    r.senseLen = static_cast<std::uint32_t>(scsi::BuildFixedSense(r.sense, senseKey, code, residue));
    r.transferred = transferred;
    return r;
}

Drive::Drive(const DriveConfig& config, std::shared_ptr<Clock> clock, double readSpeed)
    : config_(WithSortedFaults(config)), clock_(std::move(clock)), readSpeed_(readSpeed)
{
    const double now = clock_->now();
    if (config_.tape) {
        load(config_.tape, now);
        mediumChanged_ = false;  // the power-on attention stands for it
        readyAt_ = config_.readyAtPowerOn ? now : now + config_.becomingReadySeconds;
    }
}

Drive::~Drive() { save(tape_ ? tape_ : ejected_); }

void Drive::save(const std::shared_ptr<const Tape>& tape) const
{
    if (config_.saveTape.empty() || !tape)
        return;
    if (Status s = SaveFrameDump(*tape, config_.saveTape); !s)
        std::fprintf(stderr, "vantrel: virtual drive: %s\n", s.error().c_str());
}

void Drive::load(std::shared_ptr<const Tape> tape, double at)
{
    tape_ = std::move(tape);
    frame_ = 0;
    ++pass_;
    retryFrame_.reset();
    mediumChanged_ = true;
    readyAt_ = at + config_.becomingReadySeconds;
    ejected_.reset();
    reinsertAt_.reset();
    // The drive recognises the format of a tape it loads and takes up its density.
    if (tape_->isAudio() ? config_.audio : KnownDataDensity(tape_->density()))
        modeDensity_ = tape_->density();
}

void Drive::refresh(double now)
{
    if (!tape_ && ejected_ && reinsertAt_ && now >= *reinsertAt_) {
        const double at = *reinsertAt_;
        load(ejected_, at);
    }
}

std::optional<Drive::Sense> Drive::notReady(double now) const
{
    if (!tape_)
        return Sense{NotReady, asc::MediumNotPresent};
    if (now < readyAt_)
        return Sense{NotReady, asc::BecomingReady};
    return std::nullopt;
}

aspi::ExecResult Drive::execute(const aspi::ExecRequest& request)
{
    Outcome outcome;
    {
        std::lock_guard lock(mutex_);
        const bool isRead = request.cdbLen > 0 && request.cdb[0] == Read6;
        if (!vanished_ && isRead && config_.vanishAfterReads) {
            if (readCommands_ >= *config_.vanishAfterReads)
                vanished_ = true;
            else
                ++readCommands_;
        }
        if (vanished_) {
            // sg reports the loss itself once (the host's DID_NO_CONNECT); after that the
            // device node is gone and nothing reaches an adapter.
            aspi::ExecResult gone;
            gone.srbStatus = SS_NO_DEVICE;
            gone.haStat = lossReported_ ? 0 : kHostNoConnect;
            lossReported_ = true;
            return gone;
        }
        const double now = clock_->now();
        refresh(now);
        outcome = run(request, now);
    }
    if (outcome.seconds > 0 && !clock_->wait(outcome.seconds)) {
        aspi::ExecResult aborted;
        aborted.srbStatus = SS_ABORTED;
        return aborted;
    }
    return outcome.result;
}

Drive::Outcome Drive::run(const aspi::ExecRequest& request, double now)
{
    const std::uint8_t* cdb = request.cdb;
    const std::uint8_t op = request.cdbLen > 0 ? cdb[0] : 0xFF;
    const std::uint8_t needed = op >= 0x20 && op < 0x60 ? 10 : 6;
    if (request.cdbLen < needed)
        return {InvalidField()};
    // INQUIRY answers whatever is pending, as SCSI requires: a kernel scanning the bus must not
    // take the power-on attention meant for the program.
    if (op == Inquiry)
        return inquiry(request);
    // Any command first hears of a power-on or a tape change (there is no REQUEST SENSE here).
    if (powerOnAttention_) {
        powerOnAttention_ = false;
        return {Check(UnitAttention, asc::PowerOnOrReset)};
    }
    if (mediumChanged_) {
        mediumChanged_ = false;
        return {Check(UnitAttention, asc::MediumChanged)};
    }
    const bool needsTape =
        op == TestUnitReady || op == Rewind || op == Read6 || op == Write6 || op == Locate10 || op == ReadPosition;
    if (needsTape) {
        if (auto sense = notReady(now))
            return {Check(sense->key, sense->code)};
    }
    switch (op) {
    case TestUnitReady:
        return {Good()};
    case Rewind: {
        Outcome o{Good()};
        moveTo(0, o);
        return o;
    }
    case ReadBlockLimits:
        return readBlockLimits(request);
    case Read6:
        return read(request);
    case Write6:
        return write(request);
    case ModeSelect6:
        return modeSelect(request);
    case ModeSense6:
        return modeSense(request);
    case LoadUnload:
        return loadUnload(request, now);
    case PreventAllow:
        prevented_ = (cdb[4] & 0x01) != 0;
        return {Good()};
    case Locate10:
        return locate(request);
    case ReadPosition:
        return readPosition(request);
    default:
        return {Check(IllegalRequest, asc::InvalidOpcode)};
    }
}

Drive::Outcome Drive::inquiry(const aspi::ExecRequest& request)
{
    const std::uint8_t* cdb = request.cdb;
    // Only standard data: a SCSI-2 drive has no vital product data pages.
    if ((cdb[1] & 0x01) != 0 || cdb[2] != 0)
        return {InvalidField()};
    std::array<std::uint8_t, kStandardInquiryLen> data{};
    data[0] = config_.type;
    data[1] = 0x80;  // removable medium
    data[2] = 0x02;  // SCSI-2
    data[3] = 0x02;  // response data format
    data[4] = kStandardInquiryLen - 5;
    PutPadded(&data[8], 8, config_.vendor);
    PutPadded(&data[16], 16, config_.product);
    PutPadded(&data[32], 4, config_.revision);
    std::uint32_t n = std::min<std::uint32_t>(cdb[4], kStandardInquiryLen);
    if (request.direction != aspi::Direction::In || !request.data)
        n = 0;
    n = std::min(n, request.dataLen);
    if (n > 0)
        std::memcpy(request.data, data.data(), n);
    return {Good(n)};
}

Drive::Outcome Drive::modeSelect(const aspi::ExecRequest& request)
{
    const std::uint32_t length = request.cdb[4];
    if (length == 0)
        return {Good()};
    if (request.direction != aspi::Direction::Out || request.dataLen < length || !request.data)
        return {InvalidField()};
    const std::uint8_t* list = request.data;
    if (length < 4)
        return {Check(IllegalRequest, asc::ParameterListLengthError)};  // parameter list length error
    const std::uint8_t descriptorLength = list[3];
    if (descriptorLength != 0 && descriptorLength != 8)
        return {InvalidParameter()};
    if (length < 4u + descriptorLength)
        return {Check(IllegalRequest, asc::ParameterListLengthError)};
    if (descriptorLength == 8) {
        const std::uint8_t density = list[4];
        if (density == kAudioDensity ? !config_.audio : !KnownDataDensity(density))
            return {InvalidParameter()};
        modeDensity_ = density;
        blockLength_ = std::uint32_t{list[9]} << 16 | std::uint32_t{list[10]} << 8 | list[11];
    }
    bufferedMode_ = (list[2] & 0x70) != 0;
    return {Good(length)};
}

Drive::Outcome Drive::modeSense(const aspi::ExecRequest& request)
{
    const std::uint8_t* cdb = request.cdb;
    if ((cdb[2] & 0x3F) != 0)
        return {InvalidField()};  // no mode pages here, only the header and block descriptor
    const bool withDescriptor = (cdb[1] & 0x08) == 0;
    std::uint8_t list[12] = {};
    const std::uint8_t size = withDescriptor ? 12 : 4;
    list[0] = static_cast<std::uint8_t>(size - 1);
    list[2] = static_cast<std::uint8_t>((config_.writeProtected ? 0x80 : 0x00) | (bufferedMode_ ? 0x10 : 0x00));
    if (withDescriptor) {
        list[3] = 8;
        // A loaded tape reports its own density; an empty drive, its mode's.
        list[4] = tape_ && (tape_->isAudio() ? config_.audio : true) ? tape_->density() : modeDensity_;
        list[9] = static_cast<std::uint8_t>(blockLength_ >> 16);
        list[10] = static_cast<std::uint8_t>(blockLength_ >> 8);
        list[11] = static_cast<std::uint8_t>(blockLength_);
    }
    if (request.direction != aspi::Direction::In || !request.data)
        return {InvalidField()};
    const std::uint32_t n = std::min<std::uint32_t>({cdb[4], size, request.dataLen});
    std::memcpy(request.data, list, n);
    return {Good(n)};
}

double Drive::travelSeconds(std::uint64_t from, std::uint64_t to) const
{
    if (readSpeed_ <= 0)
        return 0;
    const std::uint64_t distance = from > to ? from - to : to - from;
    return kSettleSeconds + double(distance) * StandardFrameSeconds() / kSearchSpeed;
}

double Drive::frameSeconds(std::uint64_t n) const
{
    std::vector<std::uint8_t> bytes(dat::kFrameBytes);
    tape_->readFrame(n, bytes.data());
    return FrameSeconds(bytes.data());
}

void Drive::moveTo(std::uint64_t frame, Outcome& outcome)
{
    outcome.seconds += travelSeconds(frame_, frame);
    frame_ = frame;
    ++pass_;
    retryFrame_.reset();  // a frame that needs retries fails again on the next pass
}

Drive::Outcome Drive::read(const aspi::ExecRequest& request)
{
    const std::uint8_t* cdb = request.cdb;
    if (cdb[1] & 0x01)
        return {InvalidField()};  // fixed-length blocks: audio frames are read variable-length
    const std::uint32_t length = std::uint32_t{cdb[2]} << 16 | std::uint32_t{cdb[3]} << 8 | cdb[4];
    if (length == 0)
        return {Good()};
    if (length % dat::kFrameBytes != 0 || request.direction != aspi::Direction::In || request.dataLen < length ||
        !request.data)
        return {InvalidField()};
    if (!tape_->isAudio())
        return {modeDensity_ == kAudioDensity ? IncompatibleMedium()
                                               : Check(BlankCheck, asc::EndOfDataDetected, 0, length)};  // blank data tape
    if (modeDensity_ != kAudioDensity || !config_.audio)
        return {IncompatibleMedium()};

    Outcome o;
    const std::uint32_t frames = length / dat::kFrameBytes;
    const std::uint64_t count = tape_->frameCount();
    std::uint32_t done = 0;
    // The time the frames read take, summed by runs of one frame time so that a run of n
    // frames takes exactly n of them.
    double passed = 0, runSeconds = 0;
    std::uint32_t run = 0;
    for (; done < frames; ++done) {
        if (frame_ >= count) {
            o.result =
                Check(BlankCheck, asc::EndOfDataDetected, done * dat::kFrameBytes, length - done * dat::kFrameBytes);
            break;
        }
        if (config_.readTimeoutAt == frame_) {
            // The drive hangs on this frame until the kernel gives up on the command; like sg,
            // nothing counts as transferred, and the tape stands before the frame.
            aspi::ExecResult timedOut;
            timedOut.srbStatus = SS_ABORTED;
            timedOut.haStat = kHostTimedOut;
            o.result = timedOut;
            o.seconds += CommandTimeoutSeconds(Read6);
            framesRead_ -= done;  // passed over, but the host got none of them
            break;
        }
        bool unreadable = std::binary_search(config_.mediumErrors.begin(), config_.mediumErrors.end(), frame_);
        if (auto flaky = config_.flakyFrames.find(frame_); !unreadable && flaky != config_.flakyFrames.end()) {
            Flaky& f = flaky_[frame_];
            if (f.passes == 0 || f.lastPass != pass_) {
                f.lastPass = pass_;
                ++f.passes;
            }
            unreadable = f.passes <= flaky->second;
        }
        if (unreadable) {
            // The drive gives up on the frame and leaves the tape after it.
            o.seconds += readSpeed_ > 0 ? frameSeconds(frame_) / readSpeed_ : 0;
            ++frame_;
            o.result = Check(MediumError, asc::UnrecoveredReadError, done * dat::kFrameBytes,
                             length - done * dat::kFrameBytes);
            break;
        }
        if (auto retry = config_.retryErrors.find(frame_); retry != config_.retryErrors.end()) {
            if (retryFrame_ != frame_) {
                retryFrame_ = frame_;
                retryFailures_ = 0;
            }
            if (retryFailures_ < retry->second) {
                // This attempt fails; the tape stays before the frame for the next READ.
                ++retryFailures_;
                o.seconds += readSpeed_ > 0 ? frameSeconds(frame_) / readSpeed_ : 0;
                o.result = Check(MediumError, asc::UnrecoveredReadError, done * dat::kFrameBytes,
                                 length - done * dat::kFrameBytes);
                break;
            }
            retryFrame_.reset();
        }
        std::uint8_t* out = request.data + std::size_t{done} * dat::kFrameBytes;
        tape_->readFrame(frame_, out);
        if (readSpeed_ > 0) {
            const double seconds = FrameSeconds(out);
            if (seconds != runSeconds) {
                passed += run * runSeconds;
                run = 0;
                runSeconds = seconds;
            }
            ++run;
        }
        if (std::binary_search(config_.concealed.begin(), config_.concealed.end(), frame_))
            conceal(frame_, out);
        if (std::binary_search(config_.corruptFrames.begin(), config_.corruptFrames.end(), frame_))
            Corrupt(out);
        ++frame_;
        ++framesRead_;
    }
    if (done == frames)
        o.result = Good(length);
    if (readSpeed_ > 0)
        o.seconds += (passed + run * runSeconds) / readSpeed_;
    return o;
}

Drive::Outcome Drive::write(const aspi::ExecRequest& request)
{
    const std::uint8_t* cdb = request.cdb;
    if (cdb[1] & 0x01)
        return {InvalidField()};  // fixed-length blocks: audio frames are written variable-length
    const std::uint32_t length = std::uint32_t{cdb[2]} << 16 | std::uint32_t{cdb[3]} << 8 | cdb[4];
    if (length == 0)
        return {Good()};
    if (length % dat::kFrameBytes != 0 || request.direction != aspi::Direction::Out || request.dataLen < length ||
        !request.data)
        return {InvalidField()};
    if (config_.writeProtected)
        return {Check(scsi::key::DataProtect, asc::WriteProtected)};
    // Audio frames are written in audio mode only: in data mode the drive would write DDS.
    if (modeDensity_ != kAudioDensity || !config_.audio)
        return {IncompatibleMedium()};
    if (tape_.get() != written_.get()) {
        written_ = std::make_shared<WrittenTape>(tape_);
        tape_ = written_;
    }
    const auto capacity = static_cast<std::uint64_t>(config_.lengthMinutes * kFramesPerMinute);
    Outcome o{Good(length)};
    const std::uint32_t frames = length / dat::kFrameBytes;
    std::vector<std::uint8_t> frame(dat::kFrameBytes);
    for (std::uint32_t done = 0; done < frames; ++done) {
        const std::uint32_t rest = length - done * dat::kFrameBytes;
        if (frame_ >= capacity) {
            o.result = Check(scsi::key::VolumeOverflow, asc::EndOfPartition, done * dat::kFrameBytes, rest);
            break;
        }
        if (std::binary_search(config_.writeErrors.begin(), config_.writeErrors.end(), frame_)) {
            o.seconds += readSpeed_ > 0 ? StandardFrameSeconds() / readSpeed_ : 0;
            o.result = Check(MediumError, asc::WriteError, done * dat::kFrameBytes, rest);
            break;
        }
        std::memcpy(frame.data(), request.data + std::size_t{done} * dat::kFrameBytes, dat::kFrameBytes);
        if (std::binary_search(config_.writeCorrupt.begin(), config_.writeCorrupt.end(), frame_))
            Corrupt(frame.data());
        written_->write(frame_, frame.data());
        retryFrame_.reset();
        ++frame_;
        if (readSpeed_ > 0)
            o.seconds += FrameSeconds(frame.data()) / readSpeed_;
    }
    return o;
}

// Replaces the audio with a straight line from the previous frame's last pair to the next
// frame's first, and sets both interpolation flags, as the drive's error correction would.
// Only the pairs the frame's rate uses are touched: the rest of the audio area stays zero.
void Drive::conceal(std::uint64_t n, std::uint8_t* frame) const
{
    auto sampleAt = [](const std::uint8_t* p) { return static_cast<std::int16_t>(p[0] | p[1] << 8); };
    auto usedBytes = [](const std::uint8_t* f) {
        const std::optional<dat::AudioFormat> format = dat::FormatOf(dat::DecodeMainId(f + dat::kMainIdOffset));
        return format ? format->audioBytes : dat::kAudioAreaBytes;
    };
    const std::optional<dat::AudioFormat> own = dat::FormatOf(dat::DecodeMainId(frame + dat::kMainIdOffset));
    if (own && own->NonLinear()) {
        // 12-bit codes are no linear samples to draw a line through: the codes stay as
        // recorded and only the flags say the frame was concealed.
        frame[dat::kSubIdOffset + 3] = 0x60;
        return;
    }
    std::int16_t from[2] = {0, 0}, to[2] = {0, 0};
    std::vector<std::uint8_t> other(dat::kFrameBytes);
    if (n > 0) {
        tape_->readFrame(n - 1, other.data());
        const std::size_t end = usedBytes(other.data());
        from[0] = sampleAt(&other[end - 4]);
        from[1] = sampleAt(&other[end - 2]);
    }
    if (n + 1 < tape_->frameCount()) {
        tape_->readFrame(n + 1, other.data());
        to[0] = sampleAt(&other[0]);
        to[1] = sampleAt(&other[2]);
    }
    const auto pairs = static_cast<std::uint32_t>(usedBytes(frame) / 4);
    for (std::uint32_t i = 0; i < pairs; ++i) {
        for (int c = 0; c < 2; ++c) {
            const double t = double(i + 1) / (pairs + 1);
            const auto v = static_cast<std::int16_t>(from[c] + (to[c] - from[c]) * t);
            frame[4 * i + 2 * c] = static_cast<std::uint8_t>(v & 0xFF);
            frame[4 * i + 2 * c + 1] = static_cast<std::uint8_t>((v >> 8) & 0xFF);
        }
    }
    frame[dat::kSubIdOffset + 3] = 0x60;  // left and right concealed
}

Drive::Outcome Drive::locate(const aspi::ExecRequest& request)
{
    const std::uint8_t* cdb = request.cdb;
    if (cdb[1] & 0x02)
        return {InvalidField()};  // one partition only
    const std::uint64_t count = tape_->frameCount();
    Outcome o{Good()};
    if (!(cdb[1] & 0x04)) {
        // Logical block address: frames are the blocks.
        const std::uint64_t block = std::uint64_t{cdb[3]} << 24 | std::uint64_t{cdb[4]} << 16 |
                                    std::uint64_t{cdb[5]} << 8 | cdb[6];
        if (block > count) {
            moveTo(count, o);
            o.result = Check(BlankCheck, asc::EndOfDataDetected);
            return o;
        }
        moveTo(block, o);
        return o;
    }
    const std::uint8_t type = cdb[3] >> 5;
    const std::uint8_t* address = cdb + 4;
    std::uint64_t target = count;
    bool found = false;
    if (type == 0) {
        const bool endOfData = address[0] == 0 && address[1] == 0x0E && address[2] == 0x0E;
        if (!endOfData && (address[0] > 7 || address[1] > 9 || address[2] > 9))
            return {InvalidField()};
        for (std::uint64_t n = 0; n < count && !found; ++n) {
            if (SameProgram(tape_->position(n), address)) {
                target = n;
                found = true;
            }
        }
        found = found || endOfData;  // without a lead-out, the end of the recorded frames
    } else if (type == 1) {
        const std::uint8_t hmsf[4] = {address[0], address[1], address[2], 0};
        const std::int64_t wanted = FrameOfBcd(hmsf);
        if (wanted < 0)
            return {InvalidField()};
        for (std::uint64_t n = 0; n < count && !found; ++n) {
            const std::int64_t at = FrameOfBcd(tape_->position(n).absoluteTime);
            if (at >= wanted) {
                target = n;
                found = true;
            }
        }
    } else {
        return {InvalidField()};
    }
    // A search that finds nothing runs on to the end of the recorded area and stops there.
    moveTo(target, o);
    if (!found)
        o.result = Check(BlankCheck, asc::EndOfDataDetected);
    return o;
}

Drive::Outcome Drive::readPosition(const aspi::ExecRequest& request)
{
    const std::uint8_t form = request.cdb[1] & 0x1F;
    if (form != 0x00 && form != 0x01)
        return {InvalidField()};
    if (request.direction != aspi::Direction::In || !request.data)
        return {InvalidField()};
    std::uint8_t record[20] = {};
    if (frame_ == 0)
        record[0] |= 0x80;  // beginning of partition
    if (form == 0x01) {
        FramePosition pos;  // past the recorded area: the lead-out's values
        pos.program[1] = pos.program[2] = 0x0E;
        if (!tape_->isAudio())
            pos = FramePosition{};
        else if (frame_ < tape_->frameCount())
            pos = tape_->position(frame_);
        std::memcpy(record + 4, pos.program, 3);
        record[7] = pos.index;
        std::memcpy(record + 8, pos.programTime, 4);
        std::memcpy(record + 12, pos.absoluteTime, 4);
        std::memcpy(record + 16, pos.runTime, 4);
        if (!tape_->isAudio())
            std::memset(record + 8, 0, 12);
    } else {
        for (int i = 0; i < 4; ++i) {
            record[4 + i] = static_cast<std::uint8_t>(frame_ >> (24 - 8 * i));
            record[8 + i] = record[4 + i];
        }
    }
    const std::uint32_t n = std::min<std::uint32_t>(20, request.dataLen);
    std::memcpy(request.data, record, n);
    return {Good(n)};
}

Drive::Outcome Drive::loadUnload(const aspi::ExecRequest& request, double now)
{
    const bool loadBit = request.cdb[4] & 0x01;
    Outcome o{Good()};
    if (!tape_ && loadBit && ejected_) {
        // The ejected cassette still sits in the door: pull it back in.
        o.seconds = readSpeed_ > 0 ? kLoadSeconds : 0;
        load(ejected_, now + o.seconds);
        return o;
    }
    if (!tape_)
        return {Check(NotReady, asc::MediumNotPresent)};
    if (loadBit) {
        moveTo(0, o);
        return o;
    }
    if (prevented_)
        return {Check(IllegalRequest, asc::MediumRemovalPrevented)};
    // Rewinds, then unthreads and pushes the cassette out.
    moveTo(0, o);
    if (readSpeed_ > 0)
        o.seconds += kEjectSeconds;
    ejected_ = std::move(tape_);
    tape_.reset();
    save(ejected_);
    if (config_.reinsertAfterEjectSeconds)
        reinsertAt_ = now + o.seconds + *config_.reinsertAfterEjectSeconds;
    return o;
}

Drive::Outcome Drive::readBlockLimits(const aspi::ExecRequest& request)
{
    if (request.direction != aspi::Direction::In || !request.data)
        return {InvalidField()};
    const std::uint8_t limits[6] = {0x00, 0xFF, 0xFF, 0xFF, 0x00, 0x01};
    const std::uint32_t n = std::min<std::uint32_t>(6, request.dataLen);
    std::memcpy(request.data, limits, n);
    return {Good(n)};
}

void Drive::insert(std::shared_ptr<const Tape> tape)
{
    std::lock_guard lock(mutex_);
    if (!tape)
        return;
    load(std::move(tape), clock_->now());
}

void Drive::remove()
{
    std::lock_guard lock(mutex_);
    save(tape_ ? tape_ : ejected_);
    tape_.reset();
    ejected_.reset();
    reinsertAt_.reset();
    frame_ = 0;
    retryFrame_.reset();
}

DriveState Drive::state()
{
    std::lock_guard lock(mutex_);
    const double now = clock_->now();
    refresh(now);
    DriveState s;
    s.tapeLoaded = tape_ != nullptr;
    s.ready = s.tapeLoaded && now >= readyAt_;
    s.frame = frame_;
    s.modeDensity = modeDensity_;
    s.removalPrevented = prevented_;
    s.framesRead = framesRead_;
    s.vanished = vanished_;
    return s;
}

bool Drive::vanished()
{
    std::lock_guard lock(mutex_);
    return vanished_;
}

}  // namespace sim
