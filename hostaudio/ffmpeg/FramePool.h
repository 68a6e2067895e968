// Whole frames decoded side by side: for a codec whose every packet decodes on its own (FLAC,
// ALAC and APE frames start from a fresh predictor), several codec contexts, each on a thread
// of its own, take runs of consecutive packets in turn, and their audio is handed out in packet
// order. Runs of about kRunBytes make small frames cheap: the turn passes once a run. A context
// whose turn has not come holds its frames only while the client has room for them; then it
// waits.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "FormatAdapter.h"

namespace hostaudio {

// A decoder context for the setup, or null when the codec is missing or refuses it.
AVCodecContext* openCodecContext(const CodecSetup& setup);
// Copies a packet into `buffer` with the zeroed padding codecs read past its end, reusing the
// buffer when it is large enough and no codec holds it any more. False when out of memory.
bool fillPacketBuffer(AVBufferRef*& buffer, const uint8_t* data, size_t length);
// Points the packet at the first `length` bytes of `buffer`, holding a reference to it. False
// when out of memory.
bool refPacket(AVPacket* packet, AVBufferRef* buffer, int length);

class FramePool {
public:
    // Where the audio goes; called on the pool's threads, one at a time.
    class Client {
    public:
        // The frames of every packet, in packet order.
        virtual void frame(const AVFrame* frame) = 0;
        // Room to hold a frame decoded before its turn; released before it is handed out.
        virtual bool reserve(const AVFrame* frame) = 0;
        virtual void release(const AVFrame* frame) = 0;

    protected:
        ~Client() = default;
    };

    FramePool(Client& client, int contexts);
    ~FramePool();  // drops what is not handed out yet
    FramePool(const FramePool&) = delete;
    FramePool& operator=(const FramePool&) = delete;

    // False when a context or a thread cannot be had; a missing thread is reported.
    bool open(const CodecSetup& setup);
    // One packet, copied; at the start of a run, waits until its context has taken up the
    // previous one. False when the pool is not open or out of memory.
    bool submit(const uint8_t* data, size_t length);
    // Waits until every packet submitted is handed out.
    void finish();
    // How many packets are handed out, counted from the first; adds the numbers of those among
    // them that the codec refused since the last call.
    uint64_t handedOut(std::vector<uint64_t>& failed);

private:
    static constexpr size_t kRunBytes = 65536;
    static constexpr uint64_t kNone = UINT64_MAX;

    struct Packet {
        AVBufferRef* buffer;
        int size;
        uint64_t number;
    };
    // A frame decoded before its turn, or (no frame) the end of a packet whose frames are out.
    struct Held {
        AVFrame* frame;
        uint64_t number;
        bool failed;
    };
    struct Slot {
        AVCodecContext* codec = nullptr;
        AVPacket* packet = nullptr;
        AVFrame* frame = nullptr;
        std::deque<Held> held;  // its thread's own
        std::thread thread;
        // Under mMutex:
        std::deque<Packet> queue;
        size_t queuedBytes = 0;
        std::vector<AVBufferRef*> spare;  // packet buffers kept for reuse
        bool idle = false;                // waits on `work` for a packet
        uint64_t awaited = kNone;         // waits on `turn` for this packet's turn
        std::condition_variable work;
        std::condition_variable turn;
    };

    void run(Slot& slot);
    bool place(Slot& slot, uint64_t number);
    void handOutReady(Slot& slot);
    bool handOutAll(Slot& slot);
    void advance(uint64_t number, bool failed);
    bool isIdle(Slot& slot);
    bool isTurn(uint64_t number);
    bool waitTurn(Slot& slot, uint64_t number);
    void waitForWorker(std::unique_lock<std::mutex>& lock, const std::function<bool()>& done);
    void stop();

    Client& mClient;
    const int mContexts;
    std::vector<std::unique_ptr<Slot>> mSlots;
    // Each thread waits on a condition of its own and is woken only when what it waits for
    // may have come: most packets go out with nobody waiting for them.
    std::mutex mMutex;
    std::condition_variable mWorker;  // the submitting thread: an empty queue, or all handed out
    bool mWorkerWaits = false;
    size_t mCurrent = 0;  // the slot whose run is being filled
    size_t mRunBytes = 0;
    uint64_t mSubmitted = 0;
    uint64_t mHandedOut = 0;  // the next packet whose audio goes out
    std::vector<uint64_t> mFailed;
    bool mStopping = false;
};

}  // namespace hostaudio
