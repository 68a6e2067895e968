#include "HostDecoder.h"

#include <algorithm>
#include <cstdio>

#include "PcmRecord.h"

namespace hostaudio {
namespace {

// One second of the output: the declared rate, else what the layout implies.
int64_t outputBytesPerSecond(const audio::audio_codec_parameter_t& output) {
    if (output.pcm.bytesPerSecond > 0) {
        return output.pcm.bytesPerSecond;
    }
    if (output.sampleRate > 0 && output.pcm.blockAlign > 0) {
        return int64_t{output.sampleRate} * output.pcm.blockAlign;
    }
    return playbackBytesPerSecond(output);
}

}  // namespace

HostDecoder::HostDecoder(std::unique_ptr<DecoderBackend> backend, const audio::audio_codec_parameter_t& input)
    : backend_(std::move(backend)), input_(input), lastRead_(Clock::now()) {
    units_.openFromEnv("HOSTAUDIO_UNITS_FILE", true);
    audio::audio_codec_parameter_t output;
    if (backend_->outputParameter(output)) {
        publishOutputLocked(output);  // no other thread knows this object yet
    }
}

int32_t HostDecoder::writeData(const uint8_t* data, int32_t length, int32_t) {
    if (length < 0 || (data == nullptr && length > 0)) {
        return -1;
    }
    std::lock_guard<std::mutex> feed(feedMutex_);
    if (inputEnded_) {
        return -1;
    }
    units_.writeUnit(data, uint32_t(length));
    // A unit the backend rejects (it says why on standard error) is still taken: a bad frame
    // must not stall the stream.
    if (length > 0 && !backend_->decode(data, size_t(length), *this)) {
        ++rejectedUnits_;
    }
    return length;
}

int32_t HostDecoder::setEndOfStream() {
    std::lock_guard<std::mutex> feed(feedMutex_);
    if (!inputEnded_) {
        inputEnded_ = true;
        backend_->drain(*this);
        if (rejectedUnits_ > 0) {
            std::fprintf(stderr, "hostaudio: units skipped in all: %llu\n",
                         static_cast<unsigned long long>(rejectedUnits_));
        }
    }
    {
        std::lock_guard<std::mutex> lock(mutex_);
        allDecoded_ = true;
    }
    filled_.notify_all();
    return 0;
}

int32_t HostDecoder::readData(uint8_t* buffer, int32_t capacity, int32_t) {
    if (capacity < 0 || (buffer == nullptr && capacity > 0)) {
        return -1;
    }
    size_t copied;
    bool room;
    {
        std::unique_lock<std::mutex> lock(mutex_);
        if (capacity > 0 && queue_.size() == 0 && !allDecoded_) {
            filled_.wait_for(lock, kReadWait, [this] { return queue_.size() >= wakeLevelLocked() || allDecoded_; });
        }
        lastRead_ = Clock::now();
        discarding_ = false;
        copied = queue_.pop(buffer, size_t(capacity));
        // A writer waiting for room resumes once a wake level's worth is free, not per read.
        room = queue_.size() + wakeLevelLocked() <= limit_;
    }
    if (copied > 0 && room) {
        drained_.notify_all();
    }
    return int32_t(copied);
}

int32_t HostDecoder::isFinished() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!allDecoded_) {
        return 0;
    }
    if (queue_.size() > 0) {
        if (!readerIdleLocked()) {
            return 0;
        }
        discardLocked();
    }
    return 1;
}

int32_t HostDecoder::getOutputParameter(audio::audio_codec_parameter_t* param) {
    if (param == nullptr) {
        return -1;
    }
    std::lock_guard<std::mutex> lock(mutex_);
    if (!haveOutput_) {
        return -1;
    }
    *param = output_;
    return 0;
}

int32_t HostDecoder::flush() {
    restart(false);
    return 0;
}

int32_t HostDecoder::reset() {
    restart(true);
    return 0;
}

// Called from the codec while feedMutex_ is held. Waits for room while the reader drains;
// pushes only what fits, so the queue never goes over its limit.
void HostDecoder::append(const uint8_t* data, size_t length) {
    audio::audio_codec_parameter_t output;
    bool known = backend_->outputParameter(output);
    std::unique_lock<std::mutex> lock(mutex_);
    if (known) {
        publishOutputLocked(output);
    }
    while (length > 0) {
        while (queue_.size() >= limit_) {
            filled_.notify_one();
            if (readerIdleLocked()) {
                discardLocked();
                break;
            }
            drained_.wait_until(lock, lastRead_ + kReaderIdle);
        }
        size_t n = std::min(length, limit_ - queue_.size());
        queue_.push(data, n);
        data += n;
        length -= n;
        if (queue_.size() >= wakeLevelLocked()) {
            filled_.notify_one();
        }
    }
}

// Drops all decoded and queued audio and restarts the codec on the same input.
void HostDecoder::restart(bool clearEnd) {
    std::lock_guard<std::mutex> feed(feedMutex_);
    backend_->configure(input_);
    audio::audio_codec_parameter_t output;
    bool known = backend_->outputParameter(output);
    if (clearEnd) {
        inputEnded_ = false;
    }
    {
        std::lock_guard<std::mutex> lock(mutex_);
        queue_.clear();
        haveOutput_ = false;
        if (known) {
            publishOutputLocked(output);
        }
        if (clearEnd) {
            allDecoded_ = false;
        }
    }
    drained_.notify_all();
}

void HostDecoder::publishOutputLocked(const audio::audio_codec_parameter_t& output) {
    output_ = output;
    haveOutput_ = true;
    int64_t second = outputBytesPerSecond(output);
    size_t limit = second > 0 ? size_t(std::min<int64_t>(second, int64_t(kMaxHeldBytes))) : kFallbackHeldBytes;
    limit_ = std::max(limit, kMinHeldBytes);
}

size_t HostDecoder::wakeLevelLocked() const { return std::min(kWakeBytes, limit_ / 2); }

bool HostDecoder::readerIdleLocked() const { return Clock::now() - lastRead_ >= kReaderIdle; }

void HostDecoder::discardLocked() {
    if (!discarding_) {
        discarding_ = true;
        std::fprintf(stderr, "hostaudio: decoded audio not read for %llds, dropping it\n",
                     static_cast<long long>(kReaderIdle.count()));
    }
    queue_.clear();
}

}  // namespace hostaudio

namespace audio {

KxAudioDecoder* KxAudioDecoder::create(const audio_codec_parameter_t* param) {
    if (param == nullptr) {
        return nullptr;
    }
    std::unique_ptr<hostaudio::DecoderBackend> backend = hostaudio::makeBackend(param->codecType);
    if (!backend) {
        std::fprintf(stderr, "hostaudio: no decoder for codec type %d\n", param->codecType);
        return nullptr;
    }
    if (!backend->configure(*param)) {
        std::fprintf(stderr, "hostaudio: codec type %d: this input is not supported\n", param->codecType);
        return nullptr;
    }
    return new hostaudio::HostDecoder(std::move(backend), *param);
}

void KxAudioDecoder::destroy(KxAudioDecoder* decoder) { delete decoder; }

}  // namespace audio
