// A three-program test tape as a frame dump (lead-in, programs with start IDs of different
// lengths, an index change, a date pack, lead-out), and what the archive must make of it.
#pragma once

#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "dat/frame_builder.h"
#include "dat/time_code.h"

namespace archive_test {

constexpr std::size_t kFrame = 5822;
constexpr std::size_t kAudio = 5760;
constexpr std::uint32_t kLeadIn = 10;
constexpr std::uint32_t kLeadOut = 300;

struct TestTape {
    std::vector<std::vector<std::uint8_t>> sources;  // each program's source audio, 16-bit LE stereo
    std::vector<std::uint32_t> firstFrame;           // dump position of each program's first frame
    std::vector<std::uint8_t> dump;                  // every frame, 5822 bytes each
    std::uint32_t indexChangeFrame = 0;              // program 1 frame where index 2 begins
    std::size_t frames() const { return dump.size() / kFrame; }
};

inline void WriteDate(dat::SubcodeWriter& w, std::uint32_t absolute)
{
    const dat::TimeCode t = dat::TimeCodeOfIndex(absolute);
    unsigned s = 8 * 3600 + 9 * 60 + 10 + t.h * 3600 + t.m * 60 + t.s;
    w.AddDatePack({.year = 25, .month = 6, .day = 7, .hour = s / 3600, .minute = s / 60 % 60, .second = s % 60, .weekday = 7});
}

// Programs of 400, 350 and 251 frames (the last frames partly filled) with start IDs of 300,
// 100 and 33 frames.
inline TestTape MakeTestTape()
{
    TestTape tape;
    const std::uint32_t pairs[3] = {400 * 1440 - 500, 350 * 1440 - 7, 250 * 1440 + 100};
    const std::uint32_t startIds[3] = {300, 100, 33};
    std::uint32_t noise = 2024;
    for (std::uint32_t p : pairs) {
        std::vector<std::uint8_t> src(p * 4);
        for (auto& b : src) {
            noise = noise * 1103515245 + 12345;
            b = static_cast<std::uint8_t>(noise >> 16);
        }
        tape.sources.push_back(std::move(src));
    }
    std::vector<std::uint8_t> frame(kFrame);
    auto keep = [&] { tape.dump.insert(tape.dump.end(), frame.begin(), frame.end()); };
    const dat::TimeCode none{};
    for (std::uint32_t k = 0; k < kLeadIn; ++k) {
        std::fill(frame.begin(), frame.end(), 0);
        dat::SubcodeWriter w{dat::MutableFrameBytes(frame.data(), kFrame)};
        w.SetMainId({});
        w.AddTimePack(dat::PackItem::ProgramTime, dat::ProgramNumber::LeadIn(), 0, none);
        w.AddTimePack(dat::PackItem::AbsoluteTime, dat::ProgramNumber::LeadIn(), 0, none);
        w.SetSubId({.program = dat::ProgramNumber::LeadIn()});
        keep();
    }
    std::uint32_t absolute = 0;
    tape.indexChangeFrame = 200;
    for (unsigned p = 0; p < 3; ++p) {
        tape.firstFrame.push_back(static_cast<std::uint32_t>(tape.frames()));
        const auto& src = tape.sources[p];
        const std::size_t count = (src.size() + kAudio - 1) / kAudio;
        const dat::ProgramNumber program = dat::ProgramNumber::Of(p + 1);
        for (std::size_t k = 0; k < count; ++k, ++absolute) {
            std::fill(frame.begin(), frame.end(), 0);
            const std::size_t from = k * kAudio;
            std::memcpy(frame.data(), src.data() + from, std::min(kAudio, src.size() - from));
            const std::uint8_t index = p == 0 && k >= tape.indexChangeFrame ? 2 : 1;
            dat::SubcodeWriter w{dat::MutableFrameBytes(frame.data(), kFrame)};
            w.SetMainId({});
            w.AddTimePack(dat::PackItem::ProgramTime, program, index, dat::TimeCodeOfIndex(k));
            w.AddTimePack(dat::PackItem::AbsoluteTime, program, index, dat::TimeCodeOfIndex(absolute));
            WriteDate(w, absolute);
            w.SetSubId({.program = program, .start = k < startIds[p]});
            keep();
        }
    }
    for (std::uint32_t k = 0; k < kLeadOut; ++k) {
        std::fill(frame.begin(), frame.end(), 0);
        dat::SubcodeWriter w{dat::MutableFrameBytes(frame.data(), kFrame)};
        w.SetMainId({});
        w.AddTimePack(dat::PackItem::AbsoluteTime, dat::ProgramNumber::LeadOut(), 0, none);
        w.SetSubId({.program = dat::ProgramNumber::LeadOut()});
        keep();
    }
    return tape;
}

inline std::vector<std::uint8_t> ReadAll(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

inline void WriteAll(const std::string& path, const std::vector<std::uint8_t>& bytes)
{
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

inline std::uint32_t Le32(const std::uint8_t* p) { return p[0] | p[1] << 8 | p[2] << 16 | std::uint32_t{p[3]} << 24; }

// The chunks of a RIFF WAVE file by id (offset of the chunk's data, size); empty when the
// RIFF header or its size does not hold.
inline std::map<std::string, std::pair<std::size_t, std::size_t>> Chunks(const std::vector<std::uint8_t>& wav)
{
    std::map<std::string, std::pair<std::size_t, std::size_t>> out;
    if (wav.size() < 12 || std::memcmp(wav.data(), "RIFF", 4) != 0 || Le32(&wav[4]) != wav.size() - 8)
        return out;
    std::size_t at = 12;
    while (at + 8 <= wav.size()) {
        const std::string id(reinterpret_cast<const char*>(&wav[at]), 4);
        const std::size_t size = Le32(&wav[at + 4]);
        if (at + 8 + size > wav.size())
            return {};
        out[id] = {at + 8, size};
        at += 8 + size + (size & 1);
    }
    return out;
}

inline std::vector<std::uint8_t> DataOf(const std::vector<std::uint8_t>& wav)
{
    const auto c = Chunks(wav);
    const auto it = c.find("data");
    if (it == c.end())
        return {};
    return {wav.begin() + static_cast<std::ptrdiff_t>(it->second.first),
            wav.begin() + static_cast<std::ptrdiff_t>(it->second.first + it->second.second)};
}

}  // namespace archive_test
