#include "dat/nonlinear.h"

#include <algorithm>
#include <cstdlib>

namespace dat {

namespace {

constexpr std::size_t kAreaBytes = kNonLinearSamples / 2 * 3;
// A choice is clear when the second best is this much rougher: on music the right layout
// wins by an order of magnitude, on a near-silent or synthetic tape the margin collapses.
constexpr double kClearRatio = 2.0;

int SignExtend12(std::uint16_t code)
{
    const int v = code & 0x0FFF;
    return v >= 0x800 ? v - 0x1000 : v;
}

int Expand(int y)
{
    if (y >= -512 && y <= 511)
        return y;
    if (y < -512)
        return -Expand(-y - 1) - 1;
    const int s = (y >> 8) - 1;  // segment 1..6
    return (y - 256 * s) << s;
}

int Compress(int x)
{
    if (x < 0)
        return -Compress(-x - 1) - 1;
    if (x < 512)
        return x;
    int k = 1;
    while (k < 6 && x >= (512 << k))
        ++k;
    return x / (1 << k) + k * 0x100;
}

bool Swapped(NonLinearLayout l) { return l == NonLinearLayout::ASwapped || l == NonLinearLayout::BSwapped; }
bool LayoutA(NonLinearLayout l) { return l == NonLinearLayout::A || l == NonLinearLayout::ASwapped; }

// Byte i of the area as the layout sees it.
std::uint8_t At(const std::uint8_t* area, std::size_t i, bool swapped) { return area[swapped ? i ^ 1u : i]; }

}  // namespace

std::int16_t ExpandNonLinear(std::uint16_t code) { return static_cast<std::int16_t>(Expand(SignExtend12(code))); }

std::uint16_t CompressNonLinear(std::int16_t sample)
{
    return static_cast<std::uint16_t>(Compress(sample) & 0x0FFF);
}

std::string_view LayoutName(NonLinearLayout layout)
{
    switch (layout) {
    case NonLinearLayout::A: return "a";
    case NonLinearLayout::B: return "b";
    case NonLinearLayout::ASwapped: return "a-swapped";
    case NonLinearLayout::BSwapped: return "b-swapped";
    }
    return "a";
}

std::optional<NonLinearLayout> LayoutNamed(std::string_view name)
{
    for (NonLinearLayout l : kNonLinearLayouts)
        if (LayoutName(l) == name)
            return l;
    return std::nullopt;
}

void DecodeNonLinear(const std::uint8_t* area, NonLinearLayout layout, std::int16_t* out)
{
    const bool swapped = Swapped(layout), a = LayoutA(layout);
    for (std::size_t i = 0, o = 0; i < kAreaBytes; i += 3, o += 2) {
        const unsigned b0 = At(area, i, swapped), b1 = At(area, i + 1, swapped), b2 = At(area, i + 2, swapped);
        const unsigned s0 = a ? b0 << 4 | b2 >> 4 : b0 << 4 | b1 >> 4;
        const unsigned s1 = a ? b1 << 4 | (b2 & 0x0F) : (b1 & 0x0F) << 8 | b2;
        out[o] = ExpandNonLinear(static_cast<std::uint16_t>(s0));
        out[o + 1] = ExpandNonLinear(static_cast<std::uint16_t>(s1));
    }
}

void EncodeNonLinear(const std::int16_t* samples, NonLinearLayout layout, std::uint8_t* area)
{
    const bool swapped = Swapped(layout), a = LayoutA(layout);
    for (std::size_t i = 0, o = 0; i < kAreaBytes; i += 3, o += 2) {
        const unsigned s0 = CompressNonLinear(samples[o]), s1 = CompressNonLinear(samples[o + 1]);
        std::uint8_t b[3];
        if (a) {
            b[0] = static_cast<std::uint8_t>(s0 >> 4);
            b[1] = static_cast<std::uint8_t>(s1 >> 4);
            b[2] = static_cast<std::uint8_t>((s0 & 0x0F) << 4 | (s1 & 0x0F));
        } else {
            b[0] = static_cast<std::uint8_t>(s0 >> 4);
            b[1] = static_cast<std::uint8_t>((s0 & 0x0F) << 4 | s1 >> 8);
            b[2] = static_cast<std::uint8_t>(s1 & 0xFF);
        }
        for (std::size_t k = 0; k < 3; ++k)
            area[swapped ? (i + k) ^ 1u : i + k] = b[k];
    }
}

void LayoutVote::Add(const std::uint8_t* area, unsigned channels)
{
    if (channels == 0 || std::all_of(area, area + kAreaBytes, [](std::uint8_t b) { return b == 0 || b == 0xFF; }))
        return;
    std::array<std::int16_t, kNonLinearSamples> pcm{};
    for (std::size_t l = 0; l < kNonLinearLayouts.size(); ++l) {
        DecodeNonLinear(area, kNonLinearLayouts[l], pcm.data());
        double sum = 0;
        for (std::size_t i = channels; i < pcm.size(); ++i)
            sum += std::abs(int{pcm[i]} - int{pcm[i - channels]});
        roughness_[l] += sum / static_cast<double>(pcm.size() - channels);
    }
    ++frames_;
}

LayoutVote::Result LayoutVote::Choice() const
{
    Result r;
    r.frames = frames_;
    if (frames_ == 0)
        return r;
    std::array<std::size_t, kNonLinearLayouts.size()> order{0, 1, 2, 3};
    std::sort(order.begin(), order.end(), [&](std::size_t x, std::size_t y) { return roughness_[x] < roughness_[y]; });
    const double best = roughness_[order[0]], second = roughness_[order[1]];
    r.ratio = best > 0 ? second / best : (second > 0 ? 1e9 : 1.0);
    r.clear = r.ratio >= kClearRatio;
    r.layout = r.clear ? kNonLinearLayouts[order[0]] : NonLinearLayout::A;
    return r;
}

}  // namespace dat
