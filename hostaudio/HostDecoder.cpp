#include "HostDecoder.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <sys/syscall.h>
#include <system_error>
#include <unistd.h>

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

pid_t currentThread() {
    static thread_local const pid_t tid = pid_t(syscall(SYS_gettid));
    return tid;
}

}  // namespace

HostDecoder::HostDecoder(std::unique_ptr<DecoderBackend> backend, const audio::audio_codec_parameter_t& input)
    : mBackend(std::move(backend)), mInput(input) {
    mUnits.openFromEnv("HOSTAUDIO_UNITS_FILE", true);
    audio::audio_codec_parameter_t output;
    if (mBackend->outputParameter(output)) {
        publishOutputLocked(output);  // no other thread knows this object yet
        mSettled = true;
    }
}

bool HostDecoder::start() {
    try {
        mWorker = std::thread(&HostDecoder::work, this);
    } catch (const std::system_error& e) {
        std::fprintf(stderr, "hostaudio: cannot start the decoder's worker thread: %s\n", e.code().message().c_str());
        return false;
    }
    return true;
}

HostDecoder::~HostDecoder() {
    {
        std::lock_guard<std::mutex> in(mInputMutex);
        mStopping = true;
    }
    mUnitsReady.notify_all();
    mWorkerIdle.notify_all();
    {
        std::lock_guard<std::mutex> lock(mMutex);
        mDropping = true;
    }
    mDrained.notify_all();
    if (mWorker.joinable()) {
        mWorker.join();
    }
    mBackend.reset();  // its threads may still append: the sink must outlive them
    std::lock_guard<std::mutex> lock(mMutex);
    reportDroppedLocked();
}

int32_t HostDecoder::writeData(const uint8_t* data, int32_t length, int32_t) {
    if (length < 0 || (data == nullptr && length > 0)) {
        return -1;
    }
    std::unique_lock<std::mutex> in(mInputMutex);
    if (mInputEnded || mRefused) {
        return -1;
    }
    mUnits.writeUnit(data, uint32_t(length));
    if (length == 0) {
        return 0;
    }
    if (pendingFullLocked(size_t(length))) {
        if (mWorkerWaiting) {
            mUnitsReady.notify_one();
        }
        mWriterWaiting = true;
        mUnitsTaken.wait(in, [&] {
            return mPending.empty() || (pendingHalvedLocked() && mPendingBytes + size_t(length) <= kMaxPendingBytes);
        });
        mWriterWaiting = false;
    }
    Unit unit;
    if (!mSpare.empty()) {
        unit = std::move(mSpare.back());
        mSpare.pop_back();
        mSpareBytes -= unit.capacity();
    }
    unit.assign(data, data + length);
    mPendingBytes += unit.size();
    mPending.push_back(std::move(unit));
    const uint64_t number = ++mQueuedUnits;
    // The first unit wakes a sleeping worker; more only once a batch is ready.
    bool wake = mWorkerWaiting && (mPending.size() == 1 || batchReadyLocked());
    if (mSettled) {
        in.unlock();
        if (wake) {
            mUnitsReady.notify_one();
        }
        return length;
    }
    if (wake) {
        mUnitsReady.notify_one();
    }
    mWorkerIdle.wait(in, [&] { return mDoneUnits >= number || mStopping; });
    return mRefused ? -1 : length;
}

// A unit is always taken when nothing is pending, whatever its size.
bool HostDecoder::pendingFullLocked(size_t length) const {
    return !mPending.empty() && (mPendingBytes + length > kMaxPendingBytes || mPending.size() >= kMaxPendingUnits);
}

bool HostDecoder::pendingHalvedLocked() const {
    return mPendingBytes <= kMaxPendingBytes / 2 && mPending.size() <= kMaxPendingUnits / 2;
}

bool HostDecoder::batchReadyLocked() const {
    return mPending.size() >= kWorkerWakeUnits || mPendingBytes >= kWorkerWakeBytes;
}

int32_t HostDecoder::setEndOfStream() {
    {
        std::lock_guard<std::mutex> in(mInputMutex);
        mInputEnded = true;
    }
    mUnitsReady.notify_one();
    return 0;
}

// The worker: decodes the pending units in order, then drains the backend once the stream
// has ended. A unit the backend rejects (it says why on standard error) is still taken: a bad
// frame must not stall the stream.
void HostDecoder::work() {
    std::unique_lock<std::mutex> in(mInputMutex);
    for (;;) {
        mWorkerWaiting = true;
        bool slept = false;
        while (!mStopping && mPending.empty() && !(mInputEnded && !mEndHandled)) {
            mUnitsReady.wait(in);
            slept = true;
        }
        if (slept && mSettled && !mStopping && !mInputEnded && !batchReadyLocked()) {
            mUnitsReady.wait_for(in, kWorkerBatchWait,
                                 [this] { return mStopping || mInputEnded || batchReadyLocked(); });
        }
        mWorkerWaiting = false;
        if (mStopping) {
            return;
        }
        mBusy = true;
        if (!mPending.empty()) {
            Unit unit = std::move(mPending.front());
            mPending.pop_front();
            mPendingBytes -= unit.size();
            bool resume = mWriterWaiting && pendingHalvedLocked();
            in.unlock();
            if (resume) {
                mUnitsTaken.notify_one();
            }
            decodeOne(unit, in);
        } else {
            mEndHandled = true;
            in.unlock();
            mBackend->drain(*this);
            uint64_t rejected = mRejectedUnits + mBackend->lateRejects();
            if (rejected > 0) {
                std::fprintf(stderr, "hostaudio: units skipped in all: %llu\n",
                             static_cast<unsigned long long>(rejected));
            }
            {
                std::lock_guard<std::mutex> lock(mMutex);
                mAllDecoded = true;
            }
            mFilled.notify_all();
            in.lock();
        }
        mBusy = false;
        mWorkerIdle.notify_all();
    }
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
        mReader = currentThread();
        mReaderGone = false;
        size_t wanted = size_t(capacity);
        for (; !mChanges.empty() && mChanges.front().at <= mTaken; mChanges.pop_front()) {
            mSourceRate = mChanges.front().rate;
            mSourceChannels = mChanges.front().channels;
        }
        if (!mChanges.empty()) wanted = size_t(std::min<uint64_t>(wanted, mChanges.front().at - mTaken));
        copied = mQueue.pop(buffer, wanted);
        mTaken += copied;
        // A writer waiting for room resumes once a wake level's worth is free, not per read.
        room = mQueue.size() + wakeLevelLocked() <= queueLimitLocked();
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
        if (!readerGoneLocked()) {
            return 0;
        }
        dropAllLocked();
    }
    reportDroppedLocked();
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
    if (mSourceRate > 0) {
        param->sampleRate = mSourceRate;
        param->channelMap = channelMaskForCount(mSourceChannels);
    }
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

// Decodes a unit taken from the pending ones, `in` unlocked; returns with it locked. Once the
// backend refuses the stream, units are dropped undecoded.
void HostDecoder::decodeOne(Unit& unit, std::unique_lock<std::mutex>& in) {
    // mRefused changes only here and in a restart, which waits while the worker is busy.
    if (!mRefused && !mBackend->decode(unit.data(), unit.size(), *this)) {
        ++mRejectedUnits;
    }
    bool known;
    {
        std::lock_guard<std::mutex> lock(mMutex);  // the backend's threads may be fixing its output
        known = mHaveOutput;
    }
    in.lock();
    mRefused = mRefused || mBackend->refused();
    ++mDoneUnits;
    mSettled = mSettled || known || mRefused || mDoneUnits >= kSettlingUnits;
    if (mSpareBytes + unit.capacity() <= kMaxPendingBytes) {
        mSpareBytes += unit.capacity();
        mSpare.push_back(std::move(unit));
    }
}

// Called by the backend on the worker or on a thread of its own, one at a time. Waits for room
// while the reader drains; pushes only what fits, so the queue never goes over its limit.
void HostDecoder::append(const uint8_t* data, size_t length) {
    std::unique_lock<std::mutex> lock(mMutex);
    if (mDropping) {
        return;  // the backend may be going: leave it alone
    }
    audio::audio_codec_parameter_t output;
    if (mBackend->outputParameter(output)) {
        publishOutputLocked(output);
    }
    while (length > 0 && !mDropping) {
        if (mReaderGone) {
            mDroppedBytes += length;
            return;
        }
        if (mQueue.size() >= queueLimitLocked()) {
            mFilled.notify_one();
            if (mDrained.wait_for(lock, kReaderCheck) == std::cv_status::timeout && readerGoneLocked()) {
                dropAllLocked();
            }
            continue;
        }
        size_t n = std::min(length, queueLimitLocked() - mQueue.size());
        mQueue.push(data, n);
        mAppended += n;
        data += n;
        length -= n;
        if (mQueue.size() >= wakeLevelLocked()) {
            mFilled.notify_one();
        }
    }
}

// Audio decoded ahead may take three quarters of the limit and what the queue leaves free;
// the queue always keeps a quarter, so the audio whose turn it is can always be appended.
bool HostDecoder::reserve(size_t bytes) {
    std::lock_guard<std::mutex> lock(mMutex);
    if (mReserved + bytes > mLimit - mLimit / 4 || mQueue.size() + mReserved + bytes > mLimit) {
        return false;
    }
    mReserved += bytes;
    return true;
}

void HostDecoder::sourceChanged(int32_t rate, int32_t channels) {
    std::lock_guard<std::mutex> lock(mMutex);
    if (!mDropping) mChanges.push_back({mAppended, rate, channels});
}

void HostDecoder::release(size_t bytes) {
    std::lock_guard<std::mutex> lock(mMutex);
    mReserved -= std::min(bytes, mReserved);
}

// Drops all pending units and all decoded and queued audio, and restarts the codec on the
// same input. The only place that holds both locks: mInputMutex first.
void HostDecoder::restart(bool clearEnd) {
    std::unique_lock<std::mutex> in(mInputMutex);
    mPending.clear();
    mPendingBytes = 0;
    mDoneUnits = mQueuedUnits;
    mUnitsTaken.notify_all();
    {
        std::lock_guard<std::mutex> lock(mMutex);
        mDropping = true;
    }
    mDrained.notify_all();
    mWorkerIdle.wait(in, [this] { return !mBusy; });
    mBackend->configure(mInput);
    audio::audio_codec_parameter_t output;
    bool known = mBackend->outputParameter(output);
    if (clearEnd) {
        mInputEnded = false;
        mEndHandled = false;
    }
    mRefused = false;
    mSettled = known;
    {
        std::lock_guard<std::mutex> lock(mMutex);
        mQueue.clear();
        mChanges.clear();
        mAppended = mTaken = 0;
        mSourceRate = mSourceChannels = 0;
        mReserved = 0;
        mDropping = false;
        mHaveOutput = false;
        if (known) {
            publishOutputLocked(output);
        }
        if (clearEnd) {
            mAllDecoded = false;
        }
    }
    mDrained.notify_all();
    mWorkerIdle.notify_all();
}

void HostDecoder::publishOutputLocked(const audio::audio_codec_parameter_t& output) {
    mOutput = output;
    mHaveOutput = true;
    int64_t second = outputBytesPerSecond(output);
    size_t limit = second > 0 ? size_t(std::min<int64_t>(second, int64_t(kMaxHeldBytes))) : kFallbackHeldBytes;
    mLimit = std::max(limit, kMinHeldBytes);
}

size_t HostDecoder::queueLimitLocked() const { return mLimit - std::min(mReserved, mLimit - mLimit / 4); }

size_t HostDecoder::wakeLevelLocked() const { return std::min(kWakeBytes, queueLimitLocked() / 2); }

// Gone means ended: a thread alive but blocked (a slow output, a stopped process) is waited for.
// Before any read there is no reader to lose.
bool HostDecoder::readerGoneLocked() {
    if (!mReaderGone && mReader != 0) {
        mReaderGone = syscall(SYS_tgkill, getpid(), mReader, 0) != 0 && errno == ESRCH;
    }
    return mReaderGone;
}

void HostDecoder::dropAllLocked() {
    mReaderGone = true;
    mDroppedBytes += mQueue.size();
    mTaken += mQueue.size();
    mQueue.clear();
    mDrained.notify_all();
}

void HostDecoder::reportDroppedLocked() {
    if (mDroppedBytes > 0 && !mDropReported) {
        mDropReported = true;
        std::fprintf(stderr,
                     "hostaudio: the thread reading the decoder has ended: %llu bytes of decoded audio dropped\n",
                     static_cast<unsigned long long>(mDroppedBytes));
    }
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
    auto* decoder = new hostaudio::HostDecoder(std::move(backend), *param);
    if (!decoder->start()) {
        delete decoder;
        return nullptr;
    }
    return decoder;
}

void KxAudioDecoder::destroy(KxAudioDecoder* decoder) { delete decoder; }

}  // namespace audio
