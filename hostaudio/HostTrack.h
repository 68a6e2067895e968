// A playback track that takes PCM at the pace a device would play it.
//
// The device is modelled as a small buffer emptied at the record's byte rate from start
// on; write blocks until a period of it is free and takes what fits. The clock only runs
// while something is buffered, as a device stops on an underrun.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>

#include "FileRecorder.h"
#include "KxAudioTrack.h"

namespace hostaudio {

class HostTrack final : public audio::KxAudioTrack {
public:
    // frameBytes and bytesPerSecond > 0; realtime false takes every write at once.
    HostTrack(int64_t frameBytes, int64_t bytesPerSecond, uint32_t byteCount, bool realtime);
    ~HostTrack() override = default;

    int32_t clear() override;
    int32_t start() override;
    int32_t stop() override;
    int32_t pause() override;
    int32_t flush() override;
    int32_t getLatency() override;
    int32_t write(const uint8_t* data, int32_t length, int32_t flag) override;

    FileRecorder& record() { return mRecord; }

private:
    using Clock = std::chrono::steady_clock;

    void playLocked(Clock::time_point now);
    void dropPendingLocked();
    std::chrono::microseconds playTime(int64_t bytes) const;

    const int64_t mBytesPerSecond;
    int64_t mCapacity;  // device buffer
    int64_t mPeriod;    // room a blocked write waits for
    const bool mRealtime;

    std::mutex mMutex;
    std::condition_variable mChanged;  // started, stopped or emptied from another thread
    bool mStarted = false;
    bool mPaused = false;
    int64_t mPending = 0;  // accepted, not played yet
    double mCredit = 0;    // bytes of playing time not yet whole
    Clock::time_point mLastPlay;
    FileRecorder mRecord;
};

}  // namespace hostaudio
