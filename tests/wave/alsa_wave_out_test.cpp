// The waveOut layer against a real ALSA device without a sound card: ALSA's "file" plugin
// writes what it is given into a raw file (its slave is the null device).
#include <QTemporaryDir>
#include <QWidget>
#include <array>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <string>
#include <vector>

#include "platform/ui/message_box.h"
#include "platform/wave/wave_out.h"
#include "wave/pump.h"

namespace {

using testing_support::PumpPosted;
using testing_support::PumpUntil;

// A window that notes the buffer-done messages it receives.
class DoneRecorder : public QWidget {
public:
    std::vector<WAVEHDR*> done;

protected:
    bool event(QEvent* e) override
    {
        if (const WindowMessageEvent* m = AsWindowMessage(e); m && m->message == MM_WOM_DONE)
            done.push_back(reinterpret_cast<WAVEHDR*>(m->lParam));
        return QWidget::event(e);
    }
};

WAVEFORMATEX CdFormat()
{
    WAVEFORMATEX f;
    f.wFormatTag = WAVE_FORMAT_PCM;
    f.nChannels = 2;
    f.nSamplesPerSec = 48000;
    f.nAvgBytesPerSec = 192000;
    f.nBlockAlign = 4;
    f.wBitsPerSample = 16;
    return f;
}

std::string ErrorText(MMRESULT code)
{
    std::array<char, 250> text{};
    waveOutGetErrorTextA(code, text.data(), text.size());
    return text.data();
}

class AlsaWaveOutTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        rawPath = dir.filePath("device.raw").toStdString();
        SetWaveOutDevice("file:'" + rawPath + "',raw");
        ui::SetMessageSink([this](const std::string& t) { messages.push_back(t); });
    }
    void TearDown() override
    {
        SetWaveOutDevice("default");
        ui::SetMessageSink({});
    }

    MMRESULT Open(HWAVEOUT& h)
    {
        const WAVEFORMATEX f = CdFormat();
        return waveOutOpen(&h, WAVE_MAPPER, &f, reinterpret_cast<DWORD_PTR>(static_cast<QObject*>(&window)), 0,
                           CALLBACK_WINDOW);
    }

    // A buffer of `bytes` whose contents tell it apart from the others.
    WAVEHDR& Buffer(int index, std::size_t bytes)
    {
        data[index].resize(bytes);
        for (std::size_t i = 0; i < bytes; ++i)
            data[index][i] = static_cast<char>(index * 37 + i * 11);
        headers[index] = {};
        headers[index].lpData = data[index].data();
        headers[index].dwBufferLength = static_cast<DWORD>(bytes);
        return headers[index];
    }

    std::vector<char> DeviceBytes() const
    {
        std::ifstream in(rawPath, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), {}};
    }

    QTemporaryDir dir;
    std::string rawPath;
    DoneRecorder window;
    std::array<std::vector<char>, 4> data;
    std::array<WAVEHDR, 4> headers{};
    std::vector<std::string> messages;
};

TEST_F(AlsaWaveOutTest, DeviceReceivesExactlyTheQueuedBytesInOrder)
{
    HWAVEOUT h = 0;
    ASSERT_EQ(Open(h), MMSYSERR_NOERROR) << ErrorText(MMSYSERR_BADDEVICEID);
    const std::size_t sizes[] = {172800, 4000, 96, 172800};  // whole frames of 4 bytes
    std::vector<char> expected;
    for (int i = 0; i < 4; ++i) {
        WAVEHDR& b = Buffer(i, sizes[i]);
        ASSERT_EQ(waveOutPrepareHeader(h, &b, sizeof(WAVEHDR)), MMSYSERR_NOERROR);
        ASSERT_EQ(waveOutWrite(h, &b, sizeof(WAVEHDR)), MMSYSERR_NOERROR);
        EXPECT_TRUE(b.dwFlags & WHDR_INQUEUE);
        expected.insert(expected.end(), data[i].begin(), data[i].end());
    }
    ASSERT_TRUE(PumpUntil([&] { return window.done.size() == 4; }));
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(window.done[i], &headers[i]);
        EXPECT_EQ(headers[i].dwFlags & (WHDR_DONE | WHDR_INQUEUE), WHDR_DONE);
        EXPECT_EQ(waveOutUnprepareHeader(h, &headers[i], sizeof(WAVEHDR)), MMSYSERR_NOERROR);
    }
    ASSERT_EQ(waveOutClose(h), MMSYSERR_NOERROR);
    EXPECT_EQ(DeviceBytes(), expected);
    PumpPosted();
    EXPECT_EQ(window.done.size(), 4u);  // one notification per buffer
    EXPECT_TRUE(messages.empty());
}

TEST_F(AlsaWaveOutTest, ResetHandsBackEveryQueuedBufferOnceAndInOrder)
{
    HWAVEOUT h = 0;
    ASSERT_EQ(Open(h), MMSYSERR_NOERROR);
    for (int i = 0; i < 4; ++i) {
        WAVEHDR& b = Buffer(i, 172800);
        waveOutPrepareHeader(h, &b, sizeof(WAVEHDR));
        waveOutWrite(h, &b, sizeof(WAVEHDR));
    }
    ASSERT_EQ(waveOutReset(h), MMSYSERR_NOERROR);
    // Handed back at once: nothing is queued any more, so the teardown succeeds right away.
    for (WAVEHDR& b : headers) {
        EXPECT_FALSE(b.dwFlags & WHDR_INQUEUE);
        EXPECT_EQ(waveOutUnprepareHeader(h, &b, sizeof(WAVEHDR)), MMSYSERR_NOERROR);
    }
    EXPECT_EQ(waveOutClose(h), MMSYSERR_NOERROR);
    ASSERT_TRUE(PumpUntil([&] { return window.done.size() >= 4; }));
    PumpPosted();
    ASSERT_EQ(window.done.size(), 4u);
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(window.done[i], &headers[i]);
    // Whatever reached the device is a prefix of what was queued.
    const std::vector<char> got = DeviceBytes();
    std::vector<char> all;
    for (auto& d : data)
        all.insert(all.end(), d.begin(), d.end());
    ASSERT_LE(got.size(), all.size());
    EXPECT_TRUE(std::equal(got.begin(), got.end(), all.begin()));
}

TEST_F(AlsaWaveOutTest, QueuedBufferBlocksUnprepareAndCloseAndClosedHandleFails)
{
    HWAVEOUT h = 0;
    ASSERT_EQ(Open(h), MMSYSERR_NOERROR);
    WAVEHDR& b = Buffer(0, 4000);
    EXPECT_EQ(waveOutWrite(h, &b, sizeof(WAVEHDR)), WAVERR_UNPREPARED);
    waveOutPrepareHeader(h, &b, sizeof(WAVEHDR));
    ASSERT_EQ(waveOutWrite(h, &b, sizeof(WAVEHDR)), MMSYSERR_NOERROR);
    // Until its notification is posted (on this thread) the buffer is the device's.
    EXPECT_EQ(waveOutWrite(h, &b, sizeof(WAVEHDR)), WAVERR_STILLPLAYING);
    EXPECT_EQ(waveOutUnprepareHeader(h, &b, sizeof(WAVEHDR)), WAVERR_STILLPLAYING);
    EXPECT_EQ(waveOutClose(h), WAVERR_STILLPLAYING);
    EXPECT_NE(ErrorText(WAVERR_STILLPLAYING).find(rawPath), std::string::npos);
    ASSERT_TRUE(PumpUntil([&] { return window.done.size() == 1; }));
    EXPECT_EQ(waveOutUnprepareHeader(h, &b, sizeof(WAVEHDR)), MMSYSERR_NOERROR);
    EXPECT_EQ(waveOutClose(h), MMSYSERR_NOERROR);
    EXPECT_EQ(waveOutClose(h), MMSYSERR_INVALHANDLE);
    EXPECT_EQ(waveOutReset(h), MMSYSERR_INVALHANDLE);
    EXPECT_EQ(waveOutUnprepareHeader(h, &b, sizeof(WAVEHDR)), MMSYSERR_INVALHANDLE);
}

TEST_F(AlsaWaveOutTest, UnknownDeviceAndRefusedFormatFailWithReadableText)
{
    SetWaveOutDevice("vantrel_no_such_device");
    HWAVEOUT h = 0;
    const MMRESULT r = Open(h);
    ASSERT_NE(r, MMSYSERR_NOERROR);
    EXPECT_EQ(h, 0u);
    const std::string text = ErrorText(r);
    EXPECT_NE(text.find("\"vantrel_no_such_device\""), std::string::npos) << text;
    // The ALSA call that failed, then ALSA's own reason.
    EXPECT_NE(text.find("cannot be opened: snd_pcm_open: Unknown PCM"), std::string::npos) << text;

    SetWaveOutDevice("file:'" + rawPath + "',raw");
    WAVEFORMATEX f = CdFormat();
    f.wFormatTag = 3;  // IEEE float: not ours to convert
    EXPECT_EQ(waveOutOpen(&h, WAVE_MAPPER, &f, 0, 0, CALLBACK_NULL), WAVERR_BADFORMAT);
    EXPECT_NE(ErrorText(WAVERR_BADFORMAT).find("cannot play"), std::string::npos);
    f = CdFormat();
    f.nSamplesPerSec = 0xFFFFFFFF;  // beyond any rate ALSA can set
    EXPECT_EQ(waveOutOpen(&h, WAVE_MAPPER, &f, 0, 0, CALLBACK_NULL), WAVERR_BADFORMAT);
    const std::string refused = ErrorText(WAVERR_BADFORMAT);
    EXPECT_NE(refused.find("does not accept format 1 at 4294967295 Hz, 2 channels, 16 bits: snd_pcm_set_params: "),
              std::string::npos)
        << refused;
    EXPECT_NE(refused.find("(Invalid argument)."), std::string::npos) << refused;
    EXPECT_TRUE(messages.empty());  // texts are for the caller to show
}

}  // namespace
