// The peaks of the sound given to the device, block by block, so that a level meter can ask
// for the peak of what plays now without looking at the samples again. Blocks are numbered
// by the sample instants of the device's stream (16-bit stereo).
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>

struct ChannelPeaks {
    std::uint16_t left = 0;  // 0 to 32768: the largest magnitude of a sample
    std::uint16_t right = 0;
};

class PeakLog {
public:
    // Sample instants per block: about 5 ms at 48 kHz, finer than a meter's refresh.
    static constexpr std::uint32_t kBlockSamples = 256;

    void Clear();
    // Appends `bytes` of 16-bit stereo PCM, least significant byte first (a trailing partial
    // sample instant is ignored). Blocks never span two appends.
    void Append(const std::uint8_t* pcm, std::size_t bytes);
    // Sample instants appended since the last Clear.
    std::uint64_t End() const { return end_; }
    // The peaks of the blocks that overlap the instants [from, to); none: silence.
    ChannelPeaks Between(std::uint64_t from, std::uint64_t to) const;
    // Forgets the blocks that end at or before `sample`.
    void DropBefore(std::uint64_t sample);
    std::size_t Blocks() const { return blocks_.size(); }

private:
    struct Block {
        std::uint64_t start, end;
        ChannelPeaks peaks;
    };
    std::deque<Block> blocks_;
    std::uint64_t end_ = 0;
};
