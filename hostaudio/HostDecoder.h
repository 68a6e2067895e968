// The service's decoder: one codec backend behind the queue the reader thread drains.
//
// Units are decoded on the thread that writes them; their PCM waits in a bounded queue for
// readData on another thread. Two locks: mFeedMutex serialises the feeding side (backend,
// unit record, end of stream) and may be held while waiting for room; mMutex guards what
// both sides share and is never held while waiting. readData waits at most kReadWait, and only
// while units are still coming.
#pragma once

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>

#include "DecoderBackend.h"
#include "FileRecorder.h"
#include "KxAudioDecoder.h"
#include "PcmQueue.h"

namespace hostaudio {

class HostDecoder final : public audio::KxAudioDecoder, private PcmSink {
public:
    static constexpr size_t kMaxHeldBytes = size_t{8} << 20;
    // Held audio when the output rate is unknown: a second of 48 kHz stereo 16-bit.
    static constexpr size_t kFallbackHeldBytes = 192000;
    static constexpr size_t kMinHeldBytes = PcmQueue::kBlockBytes;
    // A reader silent this long is taken as gone: its audio is dropped instead of waited on.
    static constexpr std::chrono::seconds kReaderIdle{2};
    // How long readData waits for audio of the units still being written. A reader that
    // sleeps on an empty answer would otherwise leave the writer stalled on a full queue.
    static constexpr std::chrono::milliseconds kReadWait{10};
    // A waiting reader is woken once this much is queued (at most half the limit), not for
    // every decoded frame: each wake costs two context switches.
    static constexpr size_t kWakeBytes = 32768;

    HostDecoder(std::unique_ptr<DecoderBackend> backend, const audio::audio_codec_parameter_t& input);
    ~HostDecoder() override = default;

    int32_t writeData(const uint8_t* data, int32_t length, int32_t flag) override;
    int32_t setEndOfStream() override;
    int32_t readData(uint8_t* buffer, int32_t capacity, int32_t flag) override;
    int32_t isFinished() override;
    int32_t getOutputParameter(audio::audio_codec_parameter_t* param) override;
    int32_t flush() override;
    int32_t reset() override;

private:
    using Clock = std::chrono::steady_clock;

    void append(const uint8_t* data, size_t length) override;
    void restart(bool clearEnd);
    void publishOutputLocked(const audio::audio_codec_parameter_t& output);
    size_t wakeLevelLocked() const;
    bool readerIdleLocked() const;
    void discardLocked();

    std::mutex mFeedMutex;
    std::unique_ptr<DecoderBackend> mBackend;
    const audio::audio_codec_parameter_t mInput;
    FileRecorder mUnits;
    bool mInputEnded = false;
    uint64_t mRejectedUnits = 0;

    std::mutex mMutex;
    std::condition_variable mDrained;  // readData took bytes, or the queue was emptied
    std::condition_variable mFilled;   // the wake level was reached, or the stream was all decoded
    PcmQueue mQueue;
    size_t mLimit = kFallbackHeldBytes;
    bool mHaveOutput = false;
    audio::audio_codec_parameter_t mOutput{};
    bool mAllDecoded = false;  // end of stream seen and the backend drained
    Clock::time_point mLastRead;
    bool mDiscarding = false;
};

}  // namespace hostaudio
