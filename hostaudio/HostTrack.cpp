#include "HostTrack.h"

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>

#include "PcmRecord.h"
#ifdef HOSTAUDIO_WITH_ALSA
#include "AlsaTrack.h"
#endif

namespace hostaudio {

HostTrack::HostTrack(int64_t frameBytes, int64_t bytesPerSecond, uint32_t byteCount, bool realtime)
    : mBytesPerSecond(bytesPerSecond), mRealtime(realtime), mLastPlay(Clock::now()) {
    // About 100 ms of buffer, or four of the caller's periods if that is more, at most a second.
    int64_t capacity = std::min(std::max(bytesPerSecond / 10, int64_t{byteCount} * 4), bytesPerSecond);
    mCapacity = std::max(capacity / frameBytes, int64_t{1}) * frameBytes;
    int64_t period = byteCount > 0 ? std::min(int64_t{byteCount}, mCapacity / 2) : mCapacity / 4;
    mPeriod = std::max(period / frameBytes, int64_t{1}) * frameBytes;
}

int32_t HostTrack::clear() {
    std::lock_guard<std::mutex> lock(mMutex);
    dropPendingLocked();
    return 0;
}

int32_t HostTrack::start() {
    std::lock_guard<std::mutex> lock(mMutex);
    if (!mStarted || mPaused) {
        mStarted = true;
        mPaused = false;
        mLastPlay = Clock::now();
        mChanged.notify_all();
    }
    return 0;
}

// Like a drain: returns once everything accepted has played.
int32_t HostTrack::stop() {
    std::unique_lock<std::mutex> lock(mMutex);
    if (mPaused) {
        dropPendingLocked();
    }
    while (mStarted) {
        playLocked(Clock::now());
        if (mPending == 0) {
            break;
        }
        mChanged.wait_for(lock, playTime(mPending));
    }
    mStarted = false;
    mPaused = false;
    dropPendingLocked();
    return 0;
}

int32_t HostTrack::pause() {
    std::lock_guard<std::mutex> lock(mMutex);
    if (!mStarted) {
        return -1;
    }
    playLocked(Clock::now());
    mPaused = true;
    return 0;
}

int32_t HostTrack::flush() { return clear(); }

// Milliseconds before a byte written now is heard.
int32_t HostTrack::getLatency() {
    std::lock_guard<std::mutex> lock(mMutex);
    playLocked(Clock::now());
    return int32_t(mPending * 1000 / mBytesPerSecond);
}

int32_t HostTrack::write(const uint8_t* data, int32_t length, int32_t) {
    if (length < 0 || (data == nullptr && length > 0)) {
        return -1;
    }
    std::unique_lock<std::mutex> lock(mMutex);
    if (!mStarted) {
        return -1;
    }
    if (!mRealtime) {
        mRecord.write(data, size_t(length));
        return length;
    }
    const int64_t wanted = std::min(int64_t{length}, mPeriod);
    bool waitedPaused = false;
    int64_t room;
    for (;;) {
        playLocked(Clock::now());
        if (!mStarted) {
            return -1;
        }
        room = mCapacity - mPending;
        if (room >= wanted || (mPaused && room > 0)) {
            break;
        }
        if (mPaused) {
            // Nothing plays while paused: give the caller a short wait and then nothing.
            if (waitedPaused) {
                return 0;
            }
            waitedPaused = true;
            mChanged.wait_for(lock, playTime(mPeriod));
        } else {
            mChanged.wait_for(lock, playTime(wanted - room));
        }
    }
    int64_t taken = std::min(int64_t{length}, room);
    mPending += taken;
    mRecord.write(data, size_t(taken));
    return int32_t(taken);
}

void HostTrack::playLocked(Clock::time_point now) {
    if (mStarted && !mPaused && mPending > 0) {
        mCredit += std::chrono::duration<double>(now - mLastPlay).count() * double(mBytesPerSecond);
        int64_t played = std::min(mPending, int64_t(mCredit));
        mPending -= played;
        mCredit -= double(played);
        if (mPending == 0) {
            mCredit = 0;  // an empty device does not play ahead
        }
    }
    mLastPlay = now;
}

void HostTrack::dropPendingLocked() {
    mPending = 0;
    mCredit = 0;
    mLastPlay = Clock::now();
    mChanged.notify_all();
}

std::chrono::microseconds HostTrack::playTime(int64_t bytes) const {
    return std::chrono::microseconds(bytes * 1000000 / mBytesPerSecond + 1);
}

}  // namespace hostaudio

namespace audio {

KxAudioTrack* KxAudioTrack::create(const char*, const char* outputName, const audio_codec_parameter_t* param,
                                   uint32_t byteCount) {
    if (outputName == nullptr || std::strcmp(outputName, "main") != 0 || param == nullptr ||
        param->codecType != AUDIO_CODEC_PCM) {
        return nullptr;
    }
    int64_t sampleBytes = hostaudio::pcmSampleBytes(param->pcm.format);
    int64_t channels = hostaudio::recordChannels(*param);
    int64_t bytesPerSecond = hostaudio::playbackBytesPerSecond(*param);
    if (sampleBytes == 0 || channels == 0 || bytesPerSecond <= 0) {
        return nullptr;
    }
    const char* realtime = std::getenv("HOSTAUDIO_TRACK_REALTIME");
    bool paced = realtime == nullptr || std::strcmp(realtime, "0") != 0;
    KxAudioTrack* track = nullptr;
    hostaudio::FileRecorder* record = nullptr;
#ifdef HOSTAUDIO_WITH_ALSA
    // A sound device plays the PCM; without one the track below stands in for it silently.
    if (paced) {
        if (auto* device = hostaudio::AlsaTrack::open(*param)) {
            track = device;
            record = &device->record();
        }
    }
#endif
    if (track == nullptr) {
        auto* host = new hostaudio::HostTrack(sampleBytes * channels, bytesPerSecond, byteCount, paced);
        track = host;
        record = &host->record();
    }
    // The first track of a process starts the record afresh; later tracks add to it.
    static std::atomic<bool> recordStarted(false);
    record->openFromEnv("HOSTAUDIO_TRACK_FILE", !recordStarted.exchange(true));
    return track;
}

void KxAudioTrack::destroy(KxAudioTrack* track) { delete track; }

}  // namespace audio
