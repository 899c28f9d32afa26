// Tapes from files and bus descriptions: what loads, and clear errors for what does not.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <sndfile.h>
#include <unistd.h>

#include "dat/frame.h"
#include "sim/simulator.h"
#include "sim/virtual_bus.h"

namespace fs = std::filesystem;

namespace {

class TapeFiles : public ::testing::Test {
protected:
    void SetUp() override
    {
        dir = fs::temp_directory_path() / ("vantrel-sim-" + std::to_string(::getpid()) + "-" +
                                           ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::create_directories(dir);
    }
    void TearDown() override { fs::remove_all(dir); }

    std::string writeAudio(const std::string& name, int rate, int channels, const std::vector<std::int16_t>& samples,
                           int format = SF_FORMAT_WAV | SF_FORMAT_PCM_16)
    {
        const std::string path = (dir / name).string();
        SF_INFO info{};
        info.samplerate = rate;
        info.channels = channels;
        info.format = format;
        SNDFILE* f = sf_open(path.c_str(), SFM_WRITE, &info);
        EXPECT_TRUE(f) << sf_strerror(nullptr);
        if (f) {
            sf_writef_short(f, samples.data(), static_cast<sf_count_t>(samples.size() / channels));
            sf_close(f);
        }
        return path;
    }
    std::string writeText(const std::string& name, const std::string& text)
    {
        const std::string path = (dir / name).string();
        std::ofstream(path, std::ios::binary) << text;
        return path;
    }

    fs::path dir;
};

std::vector<std::int16_t> Samples(std::size_t count, int step)
{
    std::vector<std::int16_t> s(count);
    for (std::size_t i = 0; i < count; ++i)
        s[i] = static_cast<std::int16_t>((i * step) % 30000);
    return s;
}

TEST_F(TapeFiles, StereoAndMonoFilesBecomePrograms)
{
    const auto stereo = Samples(2 * 1440 * 3, 3);
    const auto mono = Samples(1440 * 2, 5);
    const std::string a = writeAudio("a.wav", 48000, 2, stereo);
    const std::string b = writeAudio("b.flac", 48000, 1, mono, SF_FORMAT_FLAC | SF_FORMAT_PCM_16);
    std::string error;
    auto tape = sim::LoadAudioFiles({a, b}, error);
    ASSERT_TRUE(tape) << error;
    EXPECT_EQ(tape->frameCount(), 3u + 2 + 300);
    auto frame = sim::FrameAudio(*tape, 1);
    EXPECT_EQ(0, std::memcmp(frame.data(), stereo.data() + 2 * 1440, 5760));
    auto monoFrame = sim::FrameAudio(*tape, 3);
    for (int i = 0; i < 1440; ++i) {
        std::int16_t left, right;
        std::memcpy(&left, &monoFrame[4 * i], 2);
        std::memcpy(&right, &monoFrame[4 * i + 2], 2);
        ASSERT_EQ(left, mono[i]);
        ASSERT_EQ(right, mono[i]);
    }
    EXPECT_EQ(sim::FirstFrameOfProgram(*tape, 2), 3u);
}

TEST_F(TapeFiles, BadAudioFilesGetErrorsNamingFileAndReason)
{
    std::string error;
    // 48, 44.1 and 32 kHz are DAT rates; nothing else is resampled.
    const std::string slow = writeAudio("slow.wav", 22050, 2, Samples(2000, 1));
    EXPECT_FALSE(sim::LoadTapeFile(slow, error));
    EXPECT_NE(error.find("slow.wav"), std::string::npos) << error;
    EXPECT_NE(error.find("22050"), std::string::npos) << error;

    const std::string deep = writeAudio("deep.wav", 48000, 2, Samples(2000, 1), SF_FORMAT_WAV | SF_FORMAT_PCM_24);
    EXPECT_FALSE(sim::LoadTapeFile(deep, error));
    EXPECT_NE(error.find("16-bit"), std::string::npos) << error;

    const std::string quad = writeAudio("quad.wav", 48000, 4, Samples(4000, 1));
    EXPECT_FALSE(sim::LoadTapeFile(quad, error));
    EXPECT_NE(error.find("channels"), std::string::npos) << error;

    // A WAV cut off inside its header is neither audio nor a dump.
    std::ifstream in(slow, std::ios::binary);
    std::string head(30, '\0');
    in.read(head.data(), 30);
    const std::string cut = writeText("cut.wav", head);
    EXPECT_FALSE(sim::LoadTapeFile(cut, error));
    EXPECT_NE(error.find("cut.wav"), std::string::npos) << error;

    EXPECT_FALSE(sim::LoadTapeFile((dir / "missing.wav").string(), error));
    EXPECT_NE(error.find("missing.wav"), std::string::npos) << error;
    EXPECT_FALSE(sim::LoadTapeFile(dir.string(), error));
}

TEST_F(TapeFiles, FrameDumpsBySizeAndTruncatedOnesRefused)
{
    auto source = sim::MakePcmTape({Samples(2 * 1440 * 4, 11)});
    std::string bytes;
    for (int n = 0; n < 4; ++n) {
        auto f = sim::FrameBytes(*source, static_cast<std::uint64_t>(n));
        bytes.append(f.begin(), f.end());
    }
    std::string error;
    auto tape = sim::LoadTapeFile(writeText("dump.raw", bytes), error);
    ASSERT_TRUE(tape) << error;
    EXPECT_EQ(tape->frameCount(), 4u);
    EXPECT_EQ(sim::FrameBytes(*tape, 3), sim::FrameBytes(*source, 3));

    for (std::uint64_t n = 0; n < 4; ++n) {
        const sim::FramePosition a = tape->position(n), b = source->position(n);
        EXPECT_EQ(std::memcmp(&a, &b, sizeof a), 0) << n;  // the positions as the frames' subcodes give them
    }
    // The dump is read from its file as frames are asked for, not held: a file cut short
    // since gives blank frames there rather than stale or foreign bytes.
    const std::string cutPath = writeText("cut.raw", bytes);
    auto cut = sim::LoadTapeFile(cutPath, error);
    ASSERT_TRUE(cut) << error;
    ASSERT_EQ(::truncate(cutPath.c_str(), 5822 * 2), 0);
    EXPECT_EQ(sim::FrameBytes(*cut, 1), sim::FrameBytes(*source, 1));
    EXPECT_EQ(sim::FrameBytes(*cut, 3), std::vector<std::uint8_t>(5822, 0));

    EXPECT_FALSE(sim::LoadTapeFile(writeText("short.raw", bytes.substr(0, 5822 * 3 + 100)), error));
    EXPECT_NE(error.find("short.raw"), std::string::npos) << error;
    EXPECT_NE(error.find("5822"), std::string::npos) << error;
    EXPECT_FALSE(sim::LoadTapeFile(writeText("empty.raw", ""), error));
    EXPECT_FALSE(sim::LoadTapeFile(writeText("notes.txt", "just some text\n"), error));
}

TEST_F(TapeFiles, SimulateArgumentChoosesTheKindOfFile)
{
    std::string error;
    auto builtIn = sim::CreateSimulatedBus("", error);
    ASSERT_TRUE(builtIn) << error;
    aspi::AdapterInquiry inquiry;
    ASSERT_EQ(builtIn->inquiry(0, inquiry), SS_COMP);
    EXPECT_EQ(inquiry.identifier, "VIRTUAL SCSI");
    std::uint8_t type = 0;
    EXPECT_EQ(builtIn->deviceType(0, 4, 0, type), SS_COMP);
    EXPECT_EQ(type, 1);

    const sim::BusConfig defaults = sim::DefaultBusConfig();
    EXPECT_EQ(defaults.readSpeed, 2);
    ASSERT_EQ(defaults.adapters.size(), 1u);
    ASSERT_EQ(defaults.adapters[0].devices.size(), 1u);
    EXPECT_EQ(defaults.adapters[0].devices[0].target, 4);
    EXPECT_TRUE(defaults.adapters[0].devices[0].audio);
    EXPECT_EQ(defaults.adapters[0].devices[0].reinsertAfterEjectSeconds, 3.0);
    EXPECT_TRUE(defaults.adapters[0].devices[0].tape);

    EXPECT_TRUE(sim::CreateSimulatedBus(writeAudio("one.wav", 48000, 2, Samples(2880, 1)), error)) << error;
    EXPECT_FALSE(sim::CreateSimulatedBus(writeText("x.bin", std::string(100, 'x')), error));
    EXPECT_NE(error.find("x.bin"), std::string::npos);
}

TEST_F(TapeFiles, BusDescriptionWithRelativePaths)
{
    writeAudio("p1.wav", 48000, 2, Samples(2880 * 2, 1));
    writeAudio("p2.wav", 48000, 1, Samples(2880, 1));
    const std::string path = writeText("bus.json", R"({
      "manager_status": 1, "read_speed": 0,
      "adapters": [
        { "identifier": "VIRTUAL SCSI", "scsi_id": 7, "targets": 8,
          "devices": [
            { "target": 4, "type": 1, "audio": true, "tape": ["p1.wav", "p2.wav"],
              "becoming_ready_s": 2, "reinsert_after_eject_s": 3, "ready_at_power_on": true,
              "medium_errors": [5], "concealed": [] },
            { "target": 2, "type": 5 } ] },
        { "identifier": "SECOND", "scsi_id": 0, "targets": 16,
          "devices": [ { "target": 3, "tape": "data", "audio": false }, { "target": 5, "tape": null } ] }
      ]
    })");
    std::string error;
    auto bus = sim::CreateSimulatedBus(path, error);
    ASSERT_TRUE(bus) << error;
    EXPECT_EQ(bus->supportInfo(), 0x0102u);
    aspi::AdapterInquiry inquiry;
    ASSERT_EQ(bus->inquiry(1, inquiry), SS_COMP);
    EXPECT_EQ(inquiry.identifier, "SECOND");
    EXPECT_EQ(inquiry.targetCount, 16);
    std::uint8_t type = 0;
    ASSERT_EQ(bus->deviceType(0, 2, 0, type), SS_COMP);
    EXPECT_EQ(type, 5);
}

TEST_F(TapeFiles, DescriptionValuesAndDefaults)
{
    sim::BusConfig config;
    std::string error;
    ASSERT_TRUE(sim::ParseBusDescription(R"({"manager_status": 228, "adapters": [{"devices": [
        {"target": 4, "becoming_ready_s": 7.5, "ready_at_power_on": false, "reinsert_after_eject_s": null,
         "medium_errors": [9, 3], "concealed": [4]},
        {"target": 5}]}]})", dir.string(), config, error)) << error;
    EXPECT_EQ(config.managerStatus, 228);
    EXPECT_EQ(config.readSpeed, 2);
    ASSERT_EQ(config.adapters.size(), 1u);
    EXPECT_EQ(config.adapters[0].identifier, "VIRTUAL SCSI");
    EXPECT_EQ(config.adapters[0].scsiId, 7);
    EXPECT_EQ(config.adapters[0].targets, 8);
    const sim::DriveConfig& d = config.adapters[0].devices[0];
    EXPECT_EQ(d.becomingReadySeconds, 7.5);
    EXPECT_FALSE(d.readyAtPowerOn);
    EXPECT_FALSE(d.reinsertAfterEjectSeconds);
    EXPECT_EQ(d.mediumErrors, (std::vector<std::uint64_t>{9, 3}));
    EXPECT_EQ(d.concealed, (std::vector<std::uint64_t>{4}));
    EXPECT_FALSE(d.tape);  // no tape unless one is named
    EXPECT_EQ(config.adapters[0].devices[1].type, 1);
    auto bus = sim::CreateBus(config, error);
    ASSERT_TRUE(bus) << error;
    EXPECT_EQ(bus->supportInfo(), 0xE401u);

    ASSERT_TRUE(sim::ParseBusDescription(R"({"adapters": []})", "", config, error));
    EXPECT_TRUE(config.adapters.empty());
}

TEST_F(TapeFiles, BadDescriptionsNameTheKey)
{
    struct Case {
        const char* json;
        const char* mentions;
    };
    const Case cases[] = {
        {R"({"adapters": [{"devices": [{"target": 4, "colour": "red"}]}]})", "adapters[0].devices[0].colour"},
        {R"({"manager_status": "one"})", "manager_status"},
        {R"({"manager_status": 300})", "manager_status"},
        {R"({"read_speed": -1})", "read_speed"},
        {R"({"adapters": [{"scsi_id": 7, "targets": 8, "devices": [{"target": 9}]}]})", "target"},
        {R"({"adapters": [{"devices": [{"target": 4, "tape": 12}]}]})", "adapters[0].devices[0].tape"},
        {R"({"adapters": [{"devices": [{"target": 4, "tape": "nothing-here.wav"}]}]})", "nothing-here.wav"},
        {R"({"adapters": [{"devices": [{"target": 4, "medium_errors": [-3]}]}]})", "medium_errors"},
        {R"({"adapters": [{"devices": [{"type": 1}]}]})", "target"},
        {R"({"adapters": [{"identifier": "A NAME LONGER THAN SIXTEEN"}]})", "identifier"},
        {R"({"adapters": {}})", "adapters"},
        {R"({"adapters": [ )", "JSON"},
        {R"([1, 2])", "description"},
    };
    for (const Case& c : cases) {
        std::string error;
        EXPECT_FALSE(sim::CreateSimulatedBus(writeText("bad.json", c.json), error)) << c.json;
        EXPECT_NE(error.find(c.mentions), std::string::npos) << c.json << " -> " << error;
        EXPECT_NE(error.find("bad.json"), std::string::npos) << error;
    }
}

TEST_F(TapeFiles, LowerRateFilesAndAMixedRateList)
{
    const auto cd = Samples(2 * 1323 * 2 + 10, 7);
    const auto broadcast = Samples(960 * 3, 13);  // mono
    const std::string a = writeAudio("cd.wav", 44100, 2, cd);
    const std::string b = writeAudio("broadcast.flac", 32000, 1, broadcast, SF_FORMAT_FLAC | SF_FORMAT_PCM_16);
    writeAudio("studio.wav", 48000, 2, Samples(2 * 1440 * 2, 3));
    std::string error;
    // --simulate=cd.wav: one program at 44.1 kHz.
    auto single = sim::LoadTapeFile(a, error);
    ASSERT_TRUE(single) << error;
    EXPECT_EQ(single->frameCount(), 3u + 300);
    auto frame = sim::FrameBytes(*single, 1);
    EXPECT_EQ(0, std::memcmp(frame.data(), cd.data() + 2 * 1323, 5292));
    EXPECT_EQ(dat::DecodeMainId(&frame[5820]).SampleRateHz(), 44100u);
    EXPECT_TRUE(sim::CreateSimulatedBus(a, error)) << error;

    // A list of files at three rates: a rate change at each program.
    sim::BusConfig config;
    ASSERT_TRUE(sim::ParseBusDescription(R"({"adapters": [{"devices": [
        {"target": 4, "tape": ["studio.wav", "cd.wav", "broadcast.flac"]}]}]})", dir.string(), config, error)) << error;
    const auto& tape = *config.adapters[0].devices[0].tape;
    const std::uint64_t second = sim::FirstFrameOfProgram(tape, 2), third = sim::FirstFrameOfProgram(tape, 3);
    EXPECT_EQ(second, 2u);
    EXPECT_EQ(third, 5u);
    const std::uint32_t expected[] = {48000, 48000, 44100, 44100, 44100, 32000, 32000, 32000, 32000};
    for (std::uint64_t n = 0; n < 9; ++n)
        EXPECT_EQ(dat::DecodeMainId(&sim::FrameBytes(tape, n)[5820]).SampleRateHz(), expected[n]) << n;
    auto mono = sim::FrameBytes(tape, third);
    EXPECT_EQ(mono[0] | mono[1] << 8, broadcast[0]);
    EXPECT_EQ(mono[2] | mono[3] << 8, broadcast[0]);  // mono doubled to both channels
}

TEST_F(TapeFiles, RecordingKeysInTheDescription)
{
    writeAudio("p1.wav", 44100, 2, Samples(2 * 1323 * 2, 1));
    sim::BusConfig config;
    std::string error;
    ASSERT_TRUE(sim::ParseBusDescription(R"({"adapters": [{"devices": [
        {"target": 4, "tape": "p1.wav", "emphasis": true, "recording_date": "2026-12-09 08:30:00",
         "running_time": false},
        {"target": 5, "tape": "demo", "recording_date": "2026-02-28T23:59:59"},
        {"target": 6, "tape": ["p1.wav"]}]}]})", dir.string(), config, error)) << error;
    auto decode = [](const sim::Tape& t, std::uint64_t n) {
        const auto f = sim::FrameBytes(t, n);
        return dat::Decode(dat::FrameBytes(f.data(), dat::kFrameBytes));
    };
    const dat::Frame f = decode(*config.adapters[0].devices[0].tape, 0);
    EXPECT_TRUE(f.mainId.Emphasis());
    EXPECT_EQ(f.mainId.SampleRateHz(), 44100u);
    EXPECT_FALSE(f.runningTime);
    ASSERT_TRUE(f.date && f.date->valid);
    EXPECT_EQ(f.date->year, 26u);
    EXPECT_EQ(f.date->month, 12u);
    EXPECT_EQ(f.date->day, 9u);
    EXPECT_EQ(f.date->hour, 8u);
    EXPECT_EQ(f.date->minute, 30u);
    EXPECT_EQ(f.date->weekday, 4u);  // a Wednesday
    const dat::Frame demo = decode(*config.adapters[0].devices[1].tape, 34);  // one second in
    EXPECT_EQ(demo.date->month, 3u);
    EXPECT_EQ(demo.date->day, 1u);
    EXPECT_TRUE(demo.runningTime);
    // Without the keys: no emphasis, no date, the running time as before.
    const dat::Frame plain = decode(*config.adapters[0].devices[2].tape, 0);
    EXPECT_FALSE(plain.mainId.Emphasis());
    EXPECT_FALSE(plain.date);
    EXPECT_TRUE(plain.runningTime);

    // Bad values and keys that cannot apply name the key.
    const std::string bytes(5822, '\0');
    writeText("dump.raw", bytes);
    struct Case {
        const char* json;
        const char* mentions;
    };
    const Case cases[] = {
        {R"({"adapters": [{"devices": [{"target": 4, "tape": "p1.wav", "emphasis": "yes"}]}]})", "emphasis"},
        {R"({"adapters": [{"devices": [{"target": 4, "tape": "p1.wav", "running_time": 1}]}]})", "running_time"},
        {R"({"adapters": [{"devices": [{"target": 4, "tape": "p1.wav", "recording_date": "2026-02-30 10:00:00"}]}]})",
         "recording_date"},
        {R"({"adapters": [{"devices": [{"target": 4, "tape": "p1.wav", "recording_date": "9.12.2026"}]}]})",
         "recording_date"},
        {R"({"adapters": [{"devices": [{"target": 4, "tape": "p1.wav", "recording_date": "2026-12-09 24:00:00"}]}]})",
         "recording_date"},
        {R"({"adapters": [{"devices": [{"target": 4, "tape": "data", "emphasis": true}]}]})", "devices[0].emphasis"},
        {R"({"adapters": [{"devices": [{"target": 4, "recording_date": "2026-12-09 08:30:00"}]}]})",
         "devices[0].recording_date"},
        {R"({"adapters": [{"devices": [{"target": 4, "tape": "dump.raw", "running_time": false}]}]})", "dump.raw"},
        // A number beyond a double's range is refused, not thrown out of the reader.
        {R"({"read_speed": 1E400, "adapters": []})", "not valid JSON"},
    };
    for (const Case& c : cases) {
        EXPECT_FALSE(sim::ParseBusDescription(c.json, dir.string(), config, error)) << c.json;
        EXPECT_NE(error.find(c.mentions), std::string::npos) << c.json << " -> " << error;
    }
    // A dump without the keys still loads.
    EXPECT_TRUE(sim::ParseBusDescription(R"({"adapters": [{"devices": [{"target": 4, "tape": "dump.raw"}]}]})",
                                         dir.string(), config, error)) << error;
}

}  // namespace

TEST_F(TapeFiles, ReadFaultKeys)
{
    sim::BusConfig config;
    std::string error;
    ASSERT_TRUE(sim::ParseBusDescription(R"({"adapters": [{"devices": [
        {"target": 4, "retry_errors": {"1234": 2, "7": 1}, "vanish_after_reads": 0, "read_timeout_at": 900},
        {"target": 5, "vanish_after_reads": null, "read_timeout_at": null}]}]})", "", config, error)) << error;
    const sim::DriveConfig& d = config.adapters[0].devices[0];
    EXPECT_EQ(d.retryErrors, (std::map<std::uint64_t, std::uint32_t>{{7, 1}, {1234, 2}}));
    sim::BusConfig flaky;
    const char* flakyText = R"({"adapters": [{"devices": [{"target": 4, "flaky_frames": {"40": 2}}]}]})";
    ASSERT_TRUE(sim::ParseBusDescription(flakyText, "", flaky, error)) << error;
    EXPECT_EQ(flaky.adapters[0].devices[0].flakyFrames, (std::map<std::uint64_t, std::uint32_t>{{40, 2}}));
    EXPECT_EQ(d.vanishAfterReads, 0u);
    EXPECT_EQ(d.readTimeoutAt, 900u);
    const sim::DriveConfig& plain = config.adapters[0].devices[1];
    EXPECT_TRUE(plain.retryErrors.empty());
    EXPECT_FALSE(plain.vanishAfterReads);
    EXPECT_FALSE(plain.readTimeoutAt);

    struct Case {
        const char* json;
        const char* mentions;
    };
    const Case cases[] = {
        {R"({"target": 4, "retry_errors": [1234]})", "retry_errors"},
        {R"({"target": 4, "retry_errors": {"12a": 2}})", "retry_errors.12a"},
        {R"({"target": 4, "retry_errors": {"-1": 2}})", "retry_errors.-1"},
        {R"({"target": 4, "retry_errors": {"5": 0}})", "retry_errors.5"},
        {R"({"target": 4, "retry_errors": {"5": 2.5}})", "retry_errors.5"},
        {R"({"target": 4, "vanish_after_reads": -1})", "vanish_after_reads"},
        {R"({"target": 4, "read_timeout_at": "end"})", "read_timeout_at"},
        // One frame fails one way only.
        {R"({"target": 4, "medium_errors": [5], "retry_errors": {"5": 2}})", "frame 5"},
        {R"({"target": 4, "medium_errors": [5], "read_timeout_at": 5})", "frame 5"},
        {R"({"target": 4, "retry_errors": {"5": 1}, "read_timeout_at": 5})", "frame 5"},
        {R"({"target": 4, "flaky_frames": {"5": 0}})", "flaky_frames.5"},
        {R"({"target": 4, "flaky_frames": [5]})", "flaky_frames"},
        {R"({"target": 4, "flaky_frames": {"5": 1}, "medium_errors": [5]})", "frame 5"},
        {R"({"target": 4, "flaky_frames": {"5": 1}, "retry_errors": {"5": 1}})", "frame 5"},
    };
    for (const Case& c : cases) {
        const std::string text = std::string(R"({"adapters": [{"devices": [)") + c.json + "]}]}";
        std::string why;
        EXPECT_FALSE(sim::CreateSimulatedBus(writeText("faults.json", text), why)) << c.json;
        EXPECT_NE(why.find(c.mentions), std::string::npos) << c.json << " -> " << why;
    }
}
