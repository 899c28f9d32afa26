// Shared by the fuzz targets: turning the fuzzer's bytes into the inputs the program reads.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "dat/frame.h"

namespace fuzz {

// The 62 bytes after a frame's audio area: seven packs, the sub ID and the main ID.
inline constexpr std::size_t kSubcodeBytes = dat::kFrameBytes - dat::kPacksOffset;

// Whole frames whose subcode areas are the input, 62 bytes each (the last one padded with
// zeros) and whose audio is silence: the decoder reads only the subcode, and a fuzzer finds
// far more in 62 bytes a frame than in 5822.
inline std::vector<std::uint8_t> FramesFromSubcodes(const std::uint8_t* data, std::size_t size,
                                                    std::size_t maxFrames = 256)
{
    const std::size_t frames = std::min((size + kSubcodeBytes - 1) / kSubcodeBytes, maxFrames);
    std::vector<std::uint8_t> out(frames * dat::kFrameBytes, 0);
    for (std::size_t n = 0; n < frames; ++n) {
        const std::size_t from = n * kSubcodeBytes;
        const std::size_t count = std::min(kSubcodeBytes, size - from);
        std::copy_n(data + from, count,
                    out.begin() + static_cast<std::ptrdiff_t>(n * dat::kFrameBytes + dat::kPacksOffset));
    }
    return out;
}

// The parts of an input separated by `separator`, at most `maxParts` (the last one holds the
// rest, separators and all, so that binary data can end an input).
inline std::vector<std::string_view> Split(const std::uint8_t* data, std::size_t size, std::string_view separator,
                                           std::size_t maxParts = 2)
{
    std::vector<std::string_view> parts;
    std::string_view rest(reinterpret_cast<const char*>(data), size);
    for (;;) {
        const std::size_t at = parts.size() + 1 < maxParts ? rest.find(separator) : std::string_view::npos;
        if (at == std::string_view::npos) {
            parts.push_back(rest);
            return parts;
        }
        parts.push_back(rest.substr(0, at));
        rest.remove_prefix(at + separator.size());
    }
}

}  // namespace fuzz
