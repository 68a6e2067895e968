#include "ASTThread.h"

#include <cerrno>
#include <cstdio>
#include <sched.h>

#include "ASTLog.h"

namespace {

void buildName(char (&out)[32], const char* prefix, const char* name) {
    snprintf(out, sizeof(out), "%s%s", prefix, name != nullptr ? name : "Default");
}

}  // namespace

ASTMutex::ASTMutex(const char* name) {
    buildName(mName, "ASTMutex:", name);
    astLog("[AST][INF]Create mutex(%s).\n", mName);
    pthread_mutex_init(&mMutex, nullptr);
}

ASTMutex::~ASTMutex() { pthread_mutex_destroy(&mMutex); }

int32_t ASTMutex::lock() { return -pthread_mutex_lock(&mMutex); }

int32_t ASTMutex::trylock() { return -pthread_mutex_trylock(&mMutex); }

int32_t ASTMutex::unlock() { return pthread_mutex_unlock(&mMutex); }

ASTThread::ASTThread(const char* name, int32_t priority)
    : mRunning(0), mName(), mPriority(0), mThread(), mJoinable(false), mMutex(name) {
    buildName(mName, "ASTThread:", name);
    astLog("[AST][INF]Create thread(%s).\n", mName);
    mPriority = priority == -1 ? sched_get_priority_max(SCHED_FIFO) : priority;
}

ASTThread::~ASTThread() { stopAndJoin(); }

bool ASTThread::start() {
    ASTMutexGuard guard(&mMutex);
    if (mRunning.load(std::memory_order_relaxed)) {
        astLog("[AST][ERR]Thread(%s) has been run already.\n", mName);
        return true;
    }
    mRunning.store(1, std::memory_order_relaxed);

    pthread_attr_t attr;
    pthread_attr_init(&attr);
    pthread_attr_setinheritsched(&attr, PTHREAD_EXPLICIT_SCHED);
    pthread_attr_setschedpolicy(&attr, SCHED_RR);
    sched_param param{};
    param.sched_priority = mPriority;
    pthread_attr_setschedparam(&attr, &param);
    int rc = pthread_create(&mThread, &attr, &ASTThread::entry, this);
    pthread_attr_destroy(&attr);
    if (rc == EPERM && mNormalSchedulingAllowed) {
        rc = pthread_create(&mThread, nullptr, &ASTThread::entry, this);
        if (rc == 0) {
            astLog("[AST][WRN]No permission for real-time priority, thread(%s) runs with normal scheduling; "
                   "grant it with setcap cap_sys_nice+ep on the binary or an rtprio limit of %d or more.\n",
                   mName, mPriority);
        }
    }

    if (rc != 0) {
        astLog("[AST][ERR]Failed to start thread(%s).\n", mName);
        mRunning.store(0, std::memory_order_relaxed);
    } else {
        mJoinable = true;
    }
    return mRunning.load(std::memory_order_relaxed) != 0;
}

void ASTThread::stop() {
    ASTMutexGuard guard(&mMutex);
    mRunning.store(0, std::memory_order_relaxed);
}

void ASTThread::join() {
    ASTMutexGuard guard(&mMutex);
    if (mJoinable && pthread_equal(mThread, pthread_self())) {
        astLog("[AST][ERR]Thread(%s) DEAD LOCK.\n", mName);
        return;
    }
    if (!mJoinable) return;
    int rc = pthread_join(mThread, nullptr);
    if (rc != 0) astLog("[AST][INF]Thread(%s) join:%d.\n", mName, rc);
    mJoinable = false;
}

void ASTThread::stopAndJoin() {
    stop();
    join();
}

void* ASTThread::entry(void* self) {
    static_cast<ASTThread*>(self)->run();
    pthread_exit(nullptr);
}
