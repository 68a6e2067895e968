#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <sched.h>
#include <thread>
#include <unistd.h>

#include "ASTThread.h"
#include "TestSupport.h"

using testsupport::captureStdout;

namespace {

class CountingThread : public ASTThread {
public:
    explicit CountingThread(const char* name, int32_t priority = 50) : ASTThread(name, priority) {}
    ~CountingThread() override { stopAndJoin(); }
    std::atomic<int> loops{0};
    bool joinSelf = false;

protected:
    void run() override {
        if (joinSelf) join();
        while (isRunning()) {
            ++loops;
            usleep(1000);
        }
    }
};

// Priority -1 is the FIFO maximum.
TEST(Thread, NamesAreCutAndAnnouncedMutexFirst) {
    std::string out = captureStdout([] {
        CountingThread t("ASTDecoder-ReaderThread", -1);
        EXPECT_EQ(sched_get_priority_max(SCHED_FIFO), t.priority());
    });
    EXPECT_EQ("[AST][INF]Create mutex(ASTMutex:ASTDecoder-ReaderThrea).\n"
              "[AST][INF]Create thread(ASTThread:ASTDecoder-ReaderThre).\n",
              out);
    out = captureStdout([] { EXPECT_EQ(0, CountingThread(nullptr, 0).priority()); });
    EXPECT_EQ("[AST][INF]Create mutex(ASTMutex:Default).\n[AST][INF]Create thread(ASTThread:Default).\n", out);
}

// The thread's own join is refused and it runs on.
TEST(Thread, StartRunsRealtimeAndStopJoinEnds) {
    std::string out = captureStdout([] {
        CountingThread t("worker");
        t.joinSelf = true;
        ASSERT_TRUE(t.start());
        EXPECT_TRUE(t.start());  // second start: message, nothing created
        while (t.loops < 3) usleep(1000);
        t.stopAndJoin();
        int after = t.loops;
        usleep(5000);
        EXPECT_EQ(after, t.loops);
        EXPECT_FALSE(t.isRunning());
        t.stopAndJoin();  // nothing left to join: silent
    });
    EXPECT_NE(std::string::npos, out.find("[AST][ERR]Thread(ASTThread:worker) has been run already.\n"));
    EXPECT_NE(std::string::npos, out.find("[AST][ERR]Thread(ASTThread:worker) DEAD LOCK.\n"));
    EXPECT_EQ(std::string::npos, out.find("join:"));
}

// Normal scheduling stands in only for a refused priority; an invalid one still fails.
TEST(Thread, AnInvalidPriorityFailsEvenWhereNormalSchedulingIsAllowed) {
    std::string out = captureStdout([] {
        CountingThread t("invalid", 0);
        t.allowNormalScheduling(true);
        EXPECT_FALSE(t.start());
    });
    EXPECT_EQ("[AST][INF]Create mutex(ASTMutex:invalid).\n[AST][INF]Create thread(ASTThread:invalid).\n"
              "[AST][ERR]Failed to start thread(ASTThread:invalid).\n",
              out);
}

TEST(Thread, MutexLocksAndReportsBusy) {
    captureStdout([] {
        ASTMutex m("m");
        {
            ASTMutexGuard guard(&m);
            int32_t fromOtherThread = 1;
            std::thread([&] { fromOtherThread = m.trylock(); }).join();
            EXPECT_EQ(-EBUSY, fromOtherThread);
        }
        EXPECT_EQ(0, m.trylock());
        EXPECT_EQ(0, m.unlock());
    });
}

}  // namespace
