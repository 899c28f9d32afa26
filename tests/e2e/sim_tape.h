// Tapes of the virtual drive for end-to-end tests: distinct audio, files read back, and
// what the drive delivers for a frame.
#pragma once

#include <algorithm>
#include <cstdint>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "platform/aspi/backend.h"
#include "sim/tape.h"
#include "sim/virtual_bus.h"

namespace e2e {

// Interleaved stereo noise: no two frames alike, so a frame out of place cannot pass.
inline std::vector<std::int16_t> NoisePcm(std::size_t pairs, std::uint32_t seed = 12345)
{
    std::vector<std::int16_t> pcm(pairs * 2);
    for (auto& s : pcm) {
        seed = seed * 1103515245u + 12345u;
        s = static_cast<std::int16_t>(seed >> 16);
    }
    return pcm;
}

inline std::vector<std::uint8_t> ReadAll(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

inline std::uint32_t Le32(const std::vector<std::uint8_t>& b, std::size_t at)
{
    return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | (static_cast<std::uint32_t>(b[at + 3]) << 24);
}

// The audio a drive with the same concealed frames (sorted; no other fault) delivers for
// frame n: the tape's audio, or the drive's interpolation where it conceals.
inline std::vector<std::uint8_t> DeliveredAudio(const std::shared_ptr<const sim::Tape>& tape,
                                                const std::vector<std::uint64_t>& concealed, std::uint64_t n)
{
    if (!std::binary_search(concealed.begin(), concealed.end(), n))
        return sim::FrameAudio(*tape, n);
    sim::BusConfig config;
    config.readSpeed = 0;
    config.clock = std::make_shared<sim::VirtualClock>();
    sim::DriveConfig drive;
    drive.tape = tape;
    drive.concealed = {n};
    config.adapters[0].devices.push_back(drive);
    std::string error;
    auto twin = sim::CreateBus(config, error);
    std::vector<std::uint8_t> frame(5822);
    const std::uint8_t tur[6] = {0x00, 0, 0, 0, 0, 0};
    const std::uint8_t locate[10] = {0x2B, 0, 0, static_cast<std::uint8_t>(n >> 24), static_cast<std::uint8_t>(n >> 16),
                                     static_cast<std::uint8_t>(n >> 8), static_cast<std::uint8_t>(n), 0, 0, 0};
    const std::uint8_t read[6] = {0x08, 0, 0, 0x16, 0xBE, 0};  // one 5822-byte frame
    twin->execute({0, 4, 0, tur, 6, aspi::Direction::None, nullptr, 0});
    twin->execute({0, 4, 0, locate, 10, aspi::Direction::None, nullptr, 0});
    const aspi::ExecResult r = twin->execute({0, 4, 0, read, 6, aspi::Direction::In, frame.data(), 5822});
    EXPECT_EQ(r.transferred, 5822u) << "frame " << n;
    frame.resize(5760);
    return frame;
}

}  // namespace e2e
