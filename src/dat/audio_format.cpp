#include "dat/audio_format.h"

namespace dat {

namespace {

constexpr std::uint32_t kStandardFrameMs = 30;
constexpr std::uint32_t kLongPlayFrameMs = 60;

AudioFormat Linear16Stereo(std::uint32_t rate)
{
    AudioFormat f;
    f.rate = rate;
    f.channels = 2;
    f.coding = SampleCoding::Linear16;
    f.sampleFrames = rate * kStandardFrameMs / 1000;  // 1440, 1323 or 960
    f.audioBytes = std::size_t{f.sampleFrames} * 4;
    return f;
}

}  // namespace

std::optional<AudioFormat> StereoFormatAt(std::uint32_t rateHz)
{
    if (rateHz != 48000 && rateHz != 44100 && rateHz != 32000)
        return std::nullopt;
    return Linear16Stereo(rateHz);
}

std::optional<AudioFormat> FormatOf(const MainId& mainId)
{
    const std::uint32_t rate = mainId.SampleRateHz();
    const unsigned channels = mainId.Channels();
    if (rate == 0 || channels == 0)
        return std::nullopt;
    switch (mainId.QuantizationKind()) {
    case Quantization::Linear16:
        if (channels != 2)
            return std::nullopt;
        return Linear16Stereo(rate);
    case Quantization::NonLinear12: {
        // Only at 32 kHz: two channels at half tape speed (long play), or four at normal speed.
        if (rate != 32000)
            return std::nullopt;
        AudioFormat f;
        f.rate = rate;
        f.channels = channels;
        f.coding = SampleCoding::NonLinear12;
        const std::uint32_t ms = channels == 2 ? kLongPlayFrameMs : kStandardFrameMs;
        f.sampleFrames = rate * ms / 1000;
        f.audioBytes = std::size_t{f.sampleFrames} * channels * 12 / 8;  // the whole area
        return f;
    }
    case Quantization::Unknown:
        break;
    }
    return std::nullopt;
}

}  // namespace dat
