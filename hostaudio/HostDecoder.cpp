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
    : mBackend(std::move(backend)), mInput(input), mLastRead(Clock::now()) {
    mUnits.openFromEnv("HOSTAUDIO_UNITS_FILE", true);
    audio::audio_codec_parameter_t output;
    if (mBackend->outputParameter(output)) {
        publishOutputLocked(output);  // no other thread knows this object yet
    }
}

int32_t HostDecoder::writeData(const uint8_t* data, int32_t length, int32_t) {
    if (length < 0 || (data == nullptr && length > 0)) {
        return -1;
    }
    std::lock_guard<std::mutex> feed(mFeedMutex);
    if (mInputEnded) {
        return -1;
    }
    mUnits.writeUnit(data, uint32_t(length));
    // A unit the backend rejects (it says why on standard error) is still taken: a bad frame
    // must not stall the stream.
    if (length > 0 && !mBackend->decode(data, size_t(length), *this)) {
        ++mRejectedUnits;
    }
    return length;
}

int32_t HostDecoder::setEndOfStream() {
    std::lock_guard<std::mutex> feed(mFeedMutex);
    if (!mInputEnded) {
        mInputEnded = true;
        mBackend->drain(*this);
        if (mRejectedUnits > 0) {
            std::fprintf(stderr, "hostaudio: units skipped in all: %llu\n",
                         static_cast<unsigned long long>(mRejectedUnits));
        }
    }
    {
        std::lock_guard<std::mutex> lock(mMutex);
        mAllDecoded = true;
    }
    mFilled.notify_all();
    return 0;
}

int32_t HostDecoder::readData(uint8_t* buffer, int32_t capacity, int32_t) {
    if (capacity < 0 || (buffer == nullptr && capacity > 0)) {
        return -1;
    }
    size_t copied;
    bool room;
    {
        std::unique_lock<std::mutex> lock(mMutex);
        if (capacity > 0 && mQueue.size() == 0 && !mAllDecoded) {
            mFilled.wait_for(lock, kReadWait, [this] { return mQueue.size() >= wakeLevelLocked() || mAllDecoded; });
        }
        mLastRead = Clock::now();
        mDiscarding = false;
        copied = mQueue.pop(buffer, size_t(capacity));
        // A writer waiting for room resumes once a wake level's worth is free, not per read.
        room = mQueue.size() + wakeLevelLocked() <= mLimit;
    }
    if (copied > 0 && room) {
        mDrained.notify_all();
    }
    return int32_t(copied);
}

int32_t HostDecoder::isFinished() {
    std::lock_guard<std::mutex> lock(mMutex);
    if (!mAllDecoded) {
        return 0;
    }
    if (mQueue.size() > 0) {
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
    std::lock_guard<std::mutex> lock(mMutex);
    if (!mHaveOutput) {
        return -1;
    }
    *param = mOutput;
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

// Called from the codec while mFeedMutex is held. Waits for room while the reader drains;
// pushes only what fits, so the queue never goes over its limit.
void HostDecoder::append(const uint8_t* data, size_t length) {
    audio::audio_codec_parameter_t output;
    bool known = mBackend->outputParameter(output);
    std::unique_lock<std::mutex> lock(mMutex);
    if (known) {
        publishOutputLocked(output);
    }
    while (length > 0) {
        while (mQueue.size() >= mLimit) {
            mFilled.notify_one();
            if (readerIdleLocked()) {
                discardLocked();
                break;
            }
            mDrained.wait_until(lock, mLastRead + kReaderIdle);
        }
        size_t n = std::min(length, mLimit - mQueue.size());
        mQueue.push(data, n);
        data += n;
        length -= n;
        if (mQueue.size() >= wakeLevelLocked()) {
            mFilled.notify_one();
        }
    }
}

// Drops all decoded and queued audio and restarts the codec on the same input.
void HostDecoder::restart(bool clearEnd) {
    std::lock_guard<std::mutex> feed(mFeedMutex);
    mBackend->configure(mInput);
    audio::audio_codec_parameter_t output;
    bool known = mBackend->outputParameter(output);
    if (clearEnd) {
        mInputEnded = false;
    }
    {
        std::lock_guard<std::mutex> lock(mMutex);
        mQueue.clear();
        mHaveOutput = false;
        if (known) {
            publishOutputLocked(output);
        }
        if (clearEnd) {
            mAllDecoded = false;
        }
    }
    mDrained.notify_all();
}

void HostDecoder::publishOutputLocked(const audio::audio_codec_parameter_t& output) {
    mOutput = output;
    mHaveOutput = true;
    int64_t second = outputBytesPerSecond(output);
    size_t limit = second > 0 ? size_t(std::min<int64_t>(second, int64_t(kMaxHeldBytes))) : kFallbackHeldBytes;
    mLimit = std::max(limit, kMinHeldBytes);
}

size_t HostDecoder::wakeLevelLocked() const { return std::min(kWakeBytes, mLimit / 2); }

bool HostDecoder::readerIdleLocked() const { return Clock::now() - mLastRead >= kReaderIdle; }

void HostDecoder::discardLocked() {
    if (!mDiscarding) {
        mDiscarding = true;
        std::fprintf(stderr, "hostaudio: decoded audio not read for %llds, dropping it\n",
                     static_cast<long long>(kReaderIdle.count()));
    }
    mQueue.clear();
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
