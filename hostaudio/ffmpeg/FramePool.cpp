#include "FramePool.h"

#include <cstdio>
#include <cstring>
#include <system_error>

namespace hostaudio {

AVCodecContext* openCodecContext(const CodecSetup& setup) {
    const AVCodec* codec = setup.decoderName ? avcodec_find_decoder_by_name(setup.decoderName) : nullptr;
    if (codec == nullptr) codec = avcodec_find_decoder(setup.codecId);
    AVCodecContext* context = codec != nullptr ? avcodec_alloc_context3(codec) : nullptr;
    if (context == nullptr) return nullptr;
    context->sample_rate = setup.sampleRate;
    if (setup.channels > 0) av_channel_layout_default(&context->ch_layout, setup.channels);
    context->block_align = setup.blockAlign;
    context->bit_rate = setup.bitRate;
    context->bits_per_coded_sample = setup.bitsPerCodedSample;
    context->thread_count = 1;  // frames go side by side on the pool, if at all
    bool ok = true;
    if (!setup.extradata.empty()) {
        context->extradata = static_cast<uint8_t*>(av_mallocz(setup.extradata.size() + AV_INPUT_BUFFER_PADDING_SIZE));
        ok = context->extradata != nullptr;
        if (ok) {
            memcpy(context->extradata, setup.extradata.data(), setup.extradata.size());
            context->extradata_size = static_cast<int>(setup.extradata.size());
        }
    }
    if (!ok || avcodec_open2(context, codec, nullptr) < 0) avcodec_free_context(&context);
    return context;
}

bool fillPacketBuffer(AVBufferRef*& buffer, const uint8_t* data, size_t length) {
    const size_t need = length + AV_INPUT_BUFFER_PADDING_SIZE;
    if (buffer == nullptr || size_t(buffer->size) < need || !av_buffer_is_writable(buffer)) {
        av_buffer_unref(&buffer);
        buffer = av_buffer_alloc(need + need / 4);  // room for somewhat larger frames
        if (buffer == nullptr) return false;
    }
    memcpy(buffer->data, data, length);
    memset(buffer->data + length, 0, AV_INPUT_BUFFER_PADDING_SIZE);
    return true;
}

bool refPacket(AVPacket* packet, AVBufferRef* buffer, int length) {
    packet->buf = av_buffer_ref(buffer);
    if (packet->buf == nullptr) return false;
    packet->data = buffer->data;
    packet->size = length;
    return true;
}

FramePool::FramePool(Client& client, int contexts) : mClient(client), mContexts(contexts < 1 ? 1 : contexts) {}

FramePool::~FramePool() { stop(); }

bool FramePool::open(const CodecSetup& setup) {
    stop();
    mStopping = false;
    mCurrent = mRunBytes = 0;
    mSubmitted = mHandedOut = 0;
    mFailed.clear();
    for (int i = 0; i < mContexts; ++i) {
        auto slot = std::make_unique<Slot>();
        slot->codec = openCodecContext(setup);
        slot->packet = av_packet_alloc();
        slot->frame = av_frame_alloc();
        bool ok = slot->codec != nullptr && slot->packet != nullptr && slot->frame != nullptr;
        Slot& s = *slot;
        mSlots.push_back(std::move(slot));
        if (!ok) {
            stop();
            return false;
        }
        try {
            s.thread = std::thread(&FramePool::run, this, std::ref(s));
        } catch (const std::system_error& e) {
            std::fprintf(stderr, "hostaudio: cannot start a decoding thread (%s): frames decode one after another\n",
                         e.code().message().c_str());
            stop();
            return false;
        }
    }
    return true;
}

bool FramePool::submit(const uint8_t* data, size_t length) {
    if (mSlots.empty() || length == 0 || length > INT32_MAX) return false;
    std::unique_lock<std::mutex> lock(mMutex);
    if (mRunBytes >= kRunBytes) {
        mCurrent = (mCurrent + 1) % mSlots.size();
        mRunBytes = 0;
    }
    Slot& slot = *mSlots[mCurrent];
    // A run goes into an empty queue, whole: waiting for room for each packet would cost two
    // context switches a packet.
    if (mRunBytes == 0) waitForWorker(lock, [&] { return slot.queue.empty(); });
    // Buffers go back and forth between this thread and the slot's: fresh blocks for every
    // frame, allocated here and freed there, would fragment the heap (RSS creeping up with the
    // file's length).
    AVBufferRef* buffer = nullptr;
    if (!slot.spare.empty()) {
        buffer = slot.spare.back();
        slot.spare.pop_back();
    }
    lock.unlock();
    if (!fillPacketBuffer(buffer, data, length)) return false;
    lock.lock();
    slot.queue.push_back({buffer, static_cast<int>(length), mSubmitted++});
    slot.queuedBytes += length;
    mRunBytes += length;
    const bool wake = slot.idle;
    lock.unlock();
    if (wake) slot.work.notify_one();
    return true;
}

void FramePool::finish() {
    std::unique_lock<std::mutex> lock(mMutex);
    waitForWorker(lock, [this] { return mHandedOut == mSubmitted; });
}

uint64_t FramePool::handedOut(std::vector<uint64_t>& failed) {
    std::lock_guard<std::mutex> lock(mMutex);
    failed.insert(failed.end(), mFailed.begin(), mFailed.end());
    mFailed.clear();
    return mHandedOut;
}

void FramePool::run(Slot& slot) {
    for (;;) {
        // Audio held when nothing more comes goes out first: its turn comes without more work.
        if (!slot.held.empty() && isIdle(slot) && !handOutAll(slot)) break;
        Packet p;
        {
            std::unique_lock<std::mutex> lock(mMutex);
            slot.idle = true;
            slot.work.wait(lock, [&] { return !slot.queue.empty() || mStopping; });
            slot.idle = false;
            if (mStopping) break;
            p = slot.queue.front();
            slot.queue.pop_front();
            slot.queuedBytes -= size_t(p.size);
            if (mWorkerWaits && slot.queue.empty()) mWorker.notify_one();  // it may wait for this queue
        }
        // As the serial decode does: send the packet, take frames until the codec has none.
        const bool sent = refPacket(slot.packet, p.buffer, p.size) && avcodec_send_packet(slot.codec, slot.packet) >= 0;
        av_packet_unref(slot.packet);
        bool going = true;
        while (going && avcodec_receive_frame(slot.codec, slot.frame) >= 0) {
            going = place(slot, p.number);
            av_frame_unref(slot.frame);
        }
        if (going) {
            handOutReady(slot);
            if (slot.held.empty() && isTurn(p.number))
                advance(p.number, !sent);
            else
                slot.held.push_back({nullptr, p.number, !sent});
        }
        std::lock_guard<std::mutex> lock(mMutex);
        if (slot.spare.size() < 2)
            slot.spare.push_back(p.buffer);
        else
            av_buffer_unref(&p.buffer);
        if (!going) break;
    }
    for (Held& h : slot.held) {  // left by a stop
        if (h.frame != nullptr) mClient.release(h.frame);
        av_frame_free(&h.frame);
    }
    slot.held.clear();
}

// The frame in slot.frame, of packet `number`: handed out when its turn has come, else held
// while there is room, else handed out once its turn comes. False when the pool stops first.
bool FramePool::place(Slot& slot, uint64_t number) {
    handOutReady(slot);
    if (slot.held.empty() && isTurn(number)) {
        mClient.frame(slot.frame);
        return true;
    }
    if (mClient.reserve(slot.frame)) {
        AVFrame* held = av_frame_alloc();
        if (held != nullptr) {
            av_frame_move_ref(held, slot.frame);
            slot.held.push_back({held, number, false});
            return true;
        }
        mClient.release(slot.frame);
    }
    // No room ahead: wait with this frame in hand for the turns of what is held, then its own.
    while (!(slot.held.empty() && isTurn(number))) {
        if (!waitTurn(slot, slot.held.empty() ? number : slot.held.front().number)) return false;
        handOutReady(slot);
    }
    mClient.frame(slot.frame);
    return true;
}

// Hands out the held frames, and ends the held packets, whose turn has come.
void FramePool::handOutReady(Slot& slot) {
    while (!slot.held.empty() && isTurn(slot.held.front().number)) {
        Held h = slot.held.front();
        slot.held.pop_front();
        if (h.frame == nullptr) {
            advance(h.number, h.failed);
            continue;
        }
        mClient.release(h.frame);
        mClient.frame(h.frame);
        av_frame_free(&h.frame);
    }
}

// False when the pool stops first.
bool FramePool::handOutAll(Slot& slot) {
    while (!slot.held.empty()) {
        if (!waitTurn(slot, slot.held.front().number)) return false;
        handOutReady(slot);
    }
    return true;
}

// The packet's audio is all out: the turn passes to the next one.
void FramePool::advance(uint64_t number, bool failed) {
    std::lock_guard<std::mutex> lock(mMutex);
    if (failed) mFailed.push_back(number);
    mHandedOut = number + 1;
    for (auto& other : mSlots)
        if (other->awaited == mHandedOut) other->turn.notify_one();
    if (mWorkerWaits) mWorker.notify_one();
}

bool FramePool::isIdle(Slot& slot) {
    std::lock_guard<std::mutex> lock(mMutex);
    return slot.queue.empty();
}

bool FramePool::isTurn(uint64_t number) {
    std::lock_guard<std::mutex> lock(mMutex);
    return mHandedOut == number;
}

// False when the pool stops first.
bool FramePool::waitTurn(Slot& slot, uint64_t number) {
    std::unique_lock<std::mutex> lock(mMutex);
    slot.awaited = number;
    slot.turn.wait(lock, [&] { return mHandedOut == number || mStopping; });
    slot.awaited = kNone;
    return !mStopping;
}

void FramePool::waitForWorker(std::unique_lock<std::mutex>& lock, const std::function<bool()>& done) {
    mWorkerWaits = true;
    mWorker.wait(lock, [&] { return done() || mStopping; });
    mWorkerWaits = false;
}

void FramePool::stop() {
    {
        std::lock_guard<std::mutex> lock(mMutex);
        mStopping = true;
    }
    mWorker.notify_all();
    for (auto& slot : mSlots) {
        slot->work.notify_all();
        slot->turn.notify_all();
        if (slot->thread.joinable()) slot->thread.join();
    }
    for (auto& slot : mSlots) {
        avcodec_free_context(&slot->codec);
        av_packet_free(&slot->packet);
        av_frame_free(&slot->frame);
        for (Packet& p : slot->queue) av_buffer_unref(&p.buffer);
        for (AVBufferRef*& b : slot->spare) av_buffer_unref(&b);
    }
    mSlots.clear();
}

}  // namespace hostaudio
