#include "audio/peak_log.h"

#include <algorithm>

namespace {

std::uint16_t Magnitude(const std::uint8_t* at)
{
    const auto s = static_cast<std::int16_t>(static_cast<std::uint16_t>(at[0] | (at[1] << 8)));
    // -32768 has no positive twin: its magnitude is 32768, full scale.
    return static_cast<std::uint16_t>(s < 0 ? -static_cast<std::int32_t>(s) : s);
}

}  // namespace

void PeakLog::Clear()
{
    blocks_.clear();
    end_ = 0;
}

void PeakLog::Append(const std::uint8_t* pcm, std::size_t bytes)
{
    const std::size_t instants = bytes / 4;
    for (std::size_t first = 0; first < instants; first += kBlockSamples) {
        const std::size_t last = std::min(instants, first + kBlockSamples);
        ChannelPeaks p;
        for (std::size_t i = first; i < last; ++i) {
            p.left = std::max(p.left, Magnitude(pcm + 4 * i));
            p.right = std::max(p.right, Magnitude(pcm + 4 * i + 2));
        }
        blocks_.push_back({end_, end_ + (last - first), p});
        end_ += last - first;
    }
}

ChannelPeaks PeakLog::Between(std::uint64_t from, std::uint64_t to) const
{
    ChannelPeaks out;
    auto it = std::upper_bound(blocks_.begin(), blocks_.end(), from,
                               [](std::uint64_t sample, const Block& b) { return sample < b.end; });
    for (; it != blocks_.end() && it->start < to; ++it) {
        out.left = std::max(out.left, it->peaks.left);
        out.right = std::max(out.right, it->peaks.right);
    }
    return out;
}

void PeakLog::DropBefore(std::uint64_t sample)
{
    while (!blocks_.empty() && blocks_.front().end <= sample)
        blocks_.pop_front();
}
