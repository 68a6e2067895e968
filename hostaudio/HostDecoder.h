// The service's decoder: one codec backend behind the queue the reader thread drains.
//
// writeData hands units to the decoder's own worker thread, so the caller's reading, the
// decode and the reader's draining overlap; their PCM waits in a bounded queue for readData on
// another thread. Two locks: mInputMutex guards the units on their way to the worker and the
// feeding state; mMutex guards the PCM side; only a restart holds both, taking mInputMutex
// first. Both sides wait for room: writeData while units are pending, the worker (or a
// backend thread) while the queue is full, for as long as the thread that reads is alive.
// readData waits at most kReadWait, and only while units are still coming.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <sys/types.h>
#include <thread>
#include <vector>

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
    // A full queue looks this often whether the thread that reads still exists: a reader
    // blocked in a slow write is waited for, one that has ended is not.
    static constexpr std::chrono::milliseconds kReaderCheck{500};
    // How long readData waits for audio of the units still being written. A reader that
    // sleeps on an empty answer would otherwise leave the writer stalled on a full queue.
    static constexpr std::chrono::milliseconds kReadWait{10};
    // A waiting reader is woken once this much is queued (at most half the limit), not for
    // every decoded frame: each wake costs two context switches.
    static constexpr size_t kWakeBytes = 32768;
    // Units written and not yet decoded. Enough for the reading to run ahead of the decode
    // in batches, small enough that a stopped feed ends soon (64 units of 20 ms PCM are 1.3 s,
    // 256 KiB of FLAC about 2 s). A writer that found them full resumes once half are taken.
    static constexpr size_t kMaxPendingBytes = 262144;
    static constexpr size_t kMaxPendingUnits = 64;
    // An idle worker sleeps until a unit comes, then waits at most kWorkerBatchWait for this
    // many pending units or bytes, so that it is not woken for each unit.
    static constexpr size_t kWorkerWakeUnits = 8;
    static constexpr size_t kWorkerWakeBytes = 65536;
    static constexpr std::chrono::milliseconds kWorkerBatchWait{4};
    // Until the output is known, writeData returns once its unit is decoded, so that a stream
    // the backend refuses fails the write of the unit that opened it; at most this many units.
    static constexpr uint64_t kSettlingUnits = 16;

    HostDecoder(std::unique_ptr<DecoderBackend> backend, const audio::audio_codec_parameter_t& input);
    ~HostDecoder() override;
    // False (and says why) when the worker thread cannot be created.
    bool start();

    int32_t writeData(const uint8_t* data, int32_t length, int32_t flag) override;
    int32_t setEndOfStream() override;
    int32_t readData(uint8_t* buffer, int32_t capacity, int32_t flag) override;
    int32_t isFinished() override;
    int32_t getOutputParameter(audio::audio_codec_parameter_t* param) override;
    int32_t flush() override;
    int32_t reset() override;

private:
    using Unit = std::vector<uint8_t>;

    void work();
    bool pendingFullLocked(size_t length) const;
    bool pendingHalvedLocked() const;
    bool batchReadyLocked() const;
    void decodeOne(Unit& unit, std::unique_lock<std::mutex>& in);
    void append(const uint8_t* data, size_t length) override;
    bool reserve(size_t bytes) override;
    void release(size_t bytes) override;
    void sourceChanged(int32_t rate, int32_t channels) override;
    void restart(bool clearEnd);
    void publishOutputLocked(const audio::audio_codec_parameter_t& output);
    size_t queueLimitLocked() const;
    size_t wakeLevelLocked() const;
    bool readerGoneLocked();
    void dropAllLocked();
    void reportDroppedLocked();

    std::unique_ptr<DecoderBackend> mBackend;
    const audio::audio_codec_parameter_t mInput;

    std::mutex mInputMutex;
    std::condition_variable mUnitsReady;  // a unit or the end came, or the worker is to stop
    std::condition_variable mUnitsTaken;  // half the pending units were taken, or all dropped
    std::condition_variable mWorkerIdle;  // the worker is done with a unit or the end of stream
    FileRecorder mUnits;
    std::deque<Unit> mPending;
    size_t mPendingBytes = 0;
    std::vector<Unit> mSpare;  // emptied units kept for reuse, at most kMaxPendingBytes of them
    size_t mSpareBytes = 0;
    bool mInputEnded = false;
    bool mEndHandled = false;  // the worker has drained the backend for the end of stream
    bool mBusy = false;        // the worker is decoding or draining
    bool mWorkerWaiting = false;
    bool mWriterWaiting = false;
    bool mStopping = false;
    bool mRefused = false;  // the backend refused the stream: no unit is taken any more
    bool mSettled = false;  // the output is known, or kSettlingUnits were decoded without it
    uint64_t mQueuedUnits = 0;
    uint64_t mDoneUnits = 0;      // decoded, or dropped by a restart
    uint64_t mRejectedUnits = 0;  // the worker's own
    std::thread mWorker;

    std::mutex mMutex;
    std::condition_variable mDrained;  // readData took bytes, or the queue was emptied
    std::condition_variable mFilled;   // the wake level was reached, or the stream was all decoded
    PcmQueue mQueue;
    size_t mLimit = kFallbackHeldBytes;
    size_t mReserved = 0;  // decoded ahead by the backend's threads, not yet appended
    bool mHaveOutput = false;
    audio::audio_codec_parameter_t mOutput{};
    bool mAllDecoded = false;  // end of stream seen and the backend drained
    bool mDropping = false;    // a restart or the destructor: appended audio is dropped
    // Where the decoded audio changed rate or channels, by bytes appended since the start; a read
    // never spans one, and getOutputParameter gives the decoded rate and channels of the bytes
    // read last (the PCM itself keeps the first layout).
    struct SourceChange {
        uint64_t at;
        int32_t rate, channels;
    };
    std::deque<SourceChange> mChanges;
    uint64_t mAppended = 0, mTaken = 0;
    int32_t mSourceRate = 0, mSourceChannels = 0;  // 0: as the output
    pid_t mReader = 0;         // the thread that read last
    bool mReaderGone = false;  // it has ended: appended audio is dropped and counted
    uint64_t mDroppedBytes = 0;
    bool mDropReported = false;
};

}  // namespace hostaudio
