// A RIFF WAVE file written as audio arrives: open writes the header with both sizes 0,
// append adds whole blocks of audio, finish fixes the two sizes and closes. Each step says
// how it went, a failure with a message naming the file; the capture file (below) tells
// those messages through the audio message handler and then finishes what it has.
//
// A file that may be kept (a regular file or a new one) is written as NAME.part beside it,
// and finish syncs it and renames it over NAME: a crash at any moment leaves NAME as it was
// (an earlier capture, or none) and never half written. The sizes in the .part's header are
// brought up to date about every second of audio, so that what a crash leaves there is a
// WAV file of the audio up to then. A device or pipe (/dev/null, a FIFO) is written in place.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "dat/audio_format.h"
#include "platform/io/result.h"
#include "platform/io/unique_fd.h"

// PCM sample format of a WAV file.
struct WavFormat {
    std::uint32_t sampleRate = 48000;
    std::uint16_t channels = 2;
    std::uint16_t bitsPerSample = 16;
};

class WavWriter {
public:
    enum class AppendResult { Written, FileError, SizeLimit };  // what a capture-file append came to
    // Called after each append: bytes of audio in the file so far.
    using Progress = std::function<void(std::uint64_t audioBytes)>;

    // The sizes are unsigned 32-bit, as WAV readers take them: the RIFF size (length - 8)
    // holds up to 4 GiB - 1.
    static constexpr std::uint64_t kLargestFile = 0xFFFFFFFFull + 8;
    static constexpr std::size_t kHeaderBytes = 44;

    WavWriter() = default;
    WavWriter(const WavWriter&) = delete;
    WavWriter& operator=(const WavWriter&) = delete;
    ~WavWriter() { [[maybe_unused]] const std::vector<Status> unheard = finish(); }

    // Finishes an open file (its failures dropped), then creates `path`'s .part (or opens
    // `path` itself when it is a device or pipe) and writes the header.
    Status open(const std::string& path, const WavFormat& format = {});
    // Appends `bytes` of audio. A failed write is taken back, so that the file holds whole
    // appends only, and the file stays open for finish(). Beyond the size limit nothing is
    // written and reachedLimit() tells it.
    Status append(const std::uint8_t* data, std::size_t bytes);
    // The size fix-up, sync, close and the rename into place: its failures in order; nothing
    // when no file is open. A file that cannot be put in place stays as its .part, and the
    // failure says so.
    std::vector<Status> finish();
    // Restates the header's format.
    Status setFormat(const WavFormat& format);
    const WavFormat& format() const { return format_; }

    bool isOpen() const { return fd_.get() > 0; }
    // The open file's descriptor (never one of the standard streams); 0 when none is open.
    int descriptor() const { return isOpen() ? fd_.get() : 0; }
    // The last append was refused because the file would have passed the limit.
    bool reachedLimit() const { return reachedLimit_; }
    std::uint64_t audioBytes() const { return length_ - kHeaderBytes; }
    const std::string& path() const { return path_; }
    // Where the audio is being written until finish: `path`.part, or `path` itself.
    const std::string& writingPath() const { return temp_.empty() ? path_ : temp_; }
    // Header sizes are restated after this many bytes of audio.
    static constexpr std::uint64_t kSizesEvery = 256 * 1024;

    // The largest file length allowed (0: kLargestFile); tests stand in a small one.
    void setLimit(std::uint64_t bytes) { limit_ = bytes ? bytes : kLargestFile; }
    void setProgress(Progress progress) { progress_ = std::move(progress); }

private:
    UniqueFd fd_;
    bool reachedLimit_ = false;
    WavFormat format_;
    std::string path_;
    std::string target_;                   // what the .part replaces: `path_`, or the file a link names
    std::string temp_;                     // the .part being written; empty when writing `path_` in place
    std::uint64_t length_ = kHeaderBytes;  // bytes in the file, as far as we wrote them
    std::uint64_t sizesAt_ = kHeaderBytes;  // the length the header's sizes last stated
    std::uint64_t limit_ = kLargestFile;
    Progress progress_;
};

// The program's one capture file, "Audio48.wav" unless told otherwise: the console's Read
// Tape, the deck's Play and Save and Save Only, and --capture write it; every stop finishes it.
inline constexpr const char* kCaptureFileName = "Audio48.wav";

// The open capture file's descriptor; 0 when none is open.
extern int CaptureFileNum;

// Where audio/ tells the user what went wrong: the capture file, the sound device, a drive
// failure or a rate change during Play or a capture. The windows (and the window-less modes)
// install what shows it; none installed: nothing is told. Called on the program's thread, at
// the moment it happens, so that a message keeps its place among the drive's commands.
using AudioMessageHandler = std::function<void(const std::string&)>;
void SetAudioMessageHandler(AudioMessageHandler handler);
void TellAudioMessage(const std::string& text);

// Starts the capture file `path` (written as `path`.part until finished) with its header;
// false (its message told) on failure.
bool OpenCaptureFile(const std::string& path);
// Appends `bytes` of audio; otherwise the message is told and the file finished.
WavWriter::AppendResult AppendCaptureAudio(const std::uint8_t* data, std::size_t bytes);
// The size fix-up, close and rename into place (its failures told); nothing when no file is
// open.
void FinishCaptureFile();
// Where the open capture file's audio is being written (its .part); empty when none is open.
std::string CaptureWritingPath();
// The tape's sampling rate, once its first frame tells it (the header starts at 48 kHz).
void SetCaptureFileRate(std::uint32_t sampleRate);
// The tape's format, once its first frame tells it: the rate and the channels (16-bit PCM;
// 12-bit frames are written decoded).
void SetCaptureFileFormat(const dat::AudioFormat& format);
// The PCM bytes one frame gives in the capture file's format (a standard-play frame at its
// rate unless SetCaptureFileFormat said otherwise).
std::size_t CaptureFrameBytes();

// Called after each append to the capture file (whole frames and audio bytes in the file so
// far). Empty: none.
using CaptureProgressHandler = std::function<void(std::uint64_t frames, std::uint64_t audioBytes)>;
void SetCaptureProgressHandler(CaptureProgressHandler handler);
// Tests: the largest file length a capture may reach (0: what 32-bit WAV sizes state).
void SetCaptureFileLimit(std::uint64_t bytes);
