// Named POSIX mutexes and real-time worker threads with a cooperative stop.
#pragma once

#include <atomic>
#include <cstdint>
#include <pthread.h>

class ASTMutex {
public:
    explicit ASTMutex(const char* name);
    ~ASTMutex();
    ASTMutex(const ASTMutex&) = delete;
    ASTMutex& operator=(const ASTMutex&) = delete;

    int32_t lock();
    int32_t trylock();
    int32_t unlock();
    const char* name() const { return mName; }

private:
    char mName[32];
    pthread_mutex_t mMutex;
};

class ASTMutexGuard {
public:
    explicit ASTMutexGuard(ASTMutex* mutex) : mMutex(mutex) { mMutex->lock(); }
    ~ASTMutexGuard() { mMutex->unlock(); }
    ASTMutexGuard(const ASTMutexGuard&) = delete;
    ASTMutexGuard& operator=(const ASTMutexGuard&) = delete;

private:
    ASTMutex* mMutex;
};

class ASTThread {
public:
    ASTThread(const char* name, int32_t priority);
    virtual ~ASTThread();
    ASTThread(const ASTThread&) = delete;
    ASTThread& operator=(const ASTThread&) = delete;

    bool start();
    // When set, a start refused real-time scheduling for lack of permission runs the thread
    // with normal scheduling instead, after one warning.
    void allowNormalScheduling(bool allowed) { mNormalSchedulingAllowed = allowed; }
    void stop();
    void join();
    void stopAndJoin();

    bool isRunning() const { return mRunning.load(std::memory_order_relaxed); }
    int32_t priority() const { return mPriority; }
    const char* name() const { return mName; }

protected:
    virtual void run() = 0;

private:
    static void* entry(void* self);

    std::atomic<uint8_t> mRunning;
    char mName[32];
    int32_t mPriority;
    pthread_t mThread;
    bool mJoinable;
    bool mNormalSchedulingAllowed = false;
    ASTMutex mMutex;
};
