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
    : bytesPerSecond_(bytesPerSecond), realtime_(realtime), lastPlay_(Clock::now()) {
    // About 100 ms of buffer, or four of the caller's periods if that is more, at most a second.
    int64_t capacity = std::min(std::max(bytesPerSecond / 10, int64_t{byteCount} * 4), bytesPerSecond);
    capacity_ = std::max(capacity / frameBytes, int64_t{1}) * frameBytes;
    int64_t period = byteCount > 0 ? std::min(int64_t{byteCount}, capacity_ / 2) : capacity_ / 4;
    period_ = std::max(period / frameBytes, int64_t{1}) * frameBytes;
}

int32_t HostTrack::clear() {
    std::lock_guard<std::mutex> lock(mutex_);
    dropPendingLocked();
    return 0;
}

int32_t HostTrack::start() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!started_ || paused_) {
        started_ = true;
        paused_ = false;
        lastPlay_ = Clock::now();
        changed_.notify_all();
    }
    return 0;
}

// Like a drain: returns once everything accepted has played.
int32_t HostTrack::stop() {
    std::unique_lock<std::mutex> lock(mutex_);
    if (paused_) {
        dropPendingLocked();
    }
    while (started_) {
        playLocked(Clock::now());
        if (pending_ == 0) {
            break;
        }
        changed_.wait_for(lock, playTime(pending_));
    }
    started_ = false;
    paused_ = false;
    dropPendingLocked();
    return 0;
}

int32_t HostTrack::pause() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!started_) {
        return -1;
    }
    playLocked(Clock::now());
    paused_ = true;
    return 0;
}

int32_t HostTrack::flush() { return clear(); }

// Milliseconds before a byte written now is heard.
int32_t HostTrack::getLatency() {
    std::lock_guard<std::mutex> lock(mutex_);
    playLocked(Clock::now());
    return int32_t(pending_ * 1000 / bytesPerSecond_);
}

int32_t HostTrack::write(const uint8_t* data, int32_t length, int32_t) {
    if (length < 0 || (data == nullptr && length > 0)) {
        return -1;
    }
    std::unique_lock<std::mutex> lock(mutex_);
    if (!started_) {
        return -1;
    }
    if (!realtime_) {
        record_.write(data, size_t(length));
        return length;
    }
    const int64_t wanted = std::min(int64_t{length}, period_);
    bool waitedPaused = false;
    int64_t room;
    for (;;) {
        playLocked(Clock::now());
        if (!started_) {
            return -1;
        }
        room = capacity_ - pending_;
        if (room >= wanted || (paused_ && room > 0)) {
            break;
        }
        if (paused_) {
            // Nothing plays while paused: give the caller a short wait and then nothing.
            if (waitedPaused) {
                return 0;
            }
            waitedPaused = true;
            changed_.wait_for(lock, playTime(period_));
        } else {
            changed_.wait_for(lock, playTime(wanted - room));
        }
    }
    int64_t taken = std::min(int64_t{length}, room);
    pending_ += taken;
    record_.write(data, size_t(taken));
    return int32_t(taken);
}

void HostTrack::playLocked(Clock::time_point now) {
    if (started_ && !paused_ && pending_ > 0) {
        credit_ += std::chrono::duration<double>(now - lastPlay_).count() * double(bytesPerSecond_);
        int64_t played = std::min(pending_, int64_t(credit_));
        pending_ -= played;
        credit_ -= double(played);
        if (pending_ == 0) {
            credit_ = 0;  // an empty device does not play ahead
        }
    }
    lastPlay_ = now;
}

void HostTrack::dropPendingLocked() {
    pending_ = 0;
    credit_ = 0;
    lastPlay_ = Clock::now();
    changed_.notify_all();
}

std::chrono::microseconds HostTrack::playTime(int64_t bytes) const {
    return std::chrono::microseconds(bytes * 1000000 / bytesPerSecond_ + 1);
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
