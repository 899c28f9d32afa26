// The 12-bit non-linear samples of long-play and four-channel frames: the expansion to 16-bit
// linear (and the compression that makes test tapes), the ways a drive may pack the codes in
// the audio area, and the choice among them from the sound itself.
//
//   std::array<std::int16_t, dat::kNonLinearSamples> pcm;
//   dat::DecodeNonLinear(area, dat::NonLinearLayout::A, pcm.data());
//   dat::LayoutVote vote;  vote.Add(area, channels);  vote.Choice().layout;
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace dat {

// 5760 bytes of 12-bit codes: 3840 samples, alternating channels.
inline constexpr std::size_t kNonLinearSamples = 3840;

// A 12-bit code (its low 12 bits) as a 16-bit linear sample.
std::int16_t ExpandNonLinear(std::uint16_t code);
// The 12-bit code of a 16-bit sample (the inverse of the expansion on the values it yields).
std::uint16_t CompressNonLinear(std::int16_t sample);

// How a drive packs two codes s0, s1 in three bytes b0 b1 b2; "swapped": the same after
// swapping the bytes of each 16-bit word of the audio area, as drives deliver linear audio.
enum class NonLinearLayout : std::uint8_t {
    A,         // s0 = b0:hi(b2), s1 = b1:lo(b2)
    B,         // s0 = b0:hi(b1), s1 = lo(b1):b2
    ASwapped,
    BSwapped,
};
inline constexpr std::array<NonLinearLayout, 4> kNonLinearLayouts{NonLinearLayout::A, NonLinearLayout::B,
                                                                   NonLinearLayout::ASwapped, NonLinearLayout::BSwapped};

// "a", "b", "a-swapped", "b-swapped".
std::string_view LayoutName(NonLinearLayout layout);
std::optional<NonLinearLayout> LayoutNamed(std::string_view name);

// The 3840 samples of a 5760-byte audio area, in the order they alternate between channels.
void DecodeNonLinear(const std::uint8_t* area, NonLinearLayout layout, std::int16_t* out);
// The audio area that decodes to `samples` (3840 of them) in `layout`.
void EncodeNonLinear(const std::int16_t* samples, NonLinearLayout layout, std::uint8_t* area);

// Which layout makes the sound run smoothest: each frame given is decoded every way, and the
// mean absolute step between neighbouring samples of each channel is summed over the channels.
// Read the wrong way, the low nibbles land in the wrong samples and the steps grow.
class LayoutVote {
public:
    struct Result {
        NonLinearLayout layout = NonLinearLayout::A;
        bool clear = false;  // the best is well ahead of the second best
        double ratio = 0;    // second best's roughness over the best's; 0 when nothing was heard
        std::size_t frames = 0;
    };

    // Counts a frame unless it is silent (all codes zero or -1 say nothing of the layout).
    void Add(const std::uint8_t* area, unsigned channels);
    Result Choice() const;
    std::size_t Frames() const { return frames_; }

private:
    std::array<double, kNonLinearLayouts.size()> roughness_{};
    std::size_t frames_ = 0;
};

}  // namespace dat
