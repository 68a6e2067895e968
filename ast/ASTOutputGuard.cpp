#include "ASTOutputGuard.h"

#include <atomic>
#include <cstdint>
#include <ctime>
#include <sys/stat.h>
#include <unistd.h>

namespace {

std::atomic<int> guardedFd(-1);
std::atomic<pid_t> writingThread(0);  // the thread inside a write, 0 when none
std::atomic<bool> gateClosed(false);

static_assert(std::atomic<int>::is_always_lock_free && std::atomic<pid_t>::is_always_lock_free &&
                  std::atomic<bool>::is_always_lock_free,
              "the guard is read from a signal handler");

const int kHeaderLength = 44;

bool putLe32(int fd, uint32_t value, off_t at) {
    unsigned char b[4] = {static_cast<unsigned char>(value), static_cast<unsigned char>(value >> 8),
                          static_cast<unsigned char>(value >> 16), static_cast<unsigned char>(value >> 24)};
    return pwrite(fd, b, sizeof(b), at) == static_cast<ssize_t>(sizeof(b));
}

}  // namespace

void guardWavOutput(int fd) { guardedFd.store(fd); }

void enterOutputWrite() {
    // Sequentially consistent on both sides: either the handler sees this thread writing and
    // waits, or this thread sees the gate closed and writes nothing.
    writingThread.store(gettid());
    if (!gateClosed.load()) return;
    writingThread.store(0);
    for (;;) pause();
}

void leaveOutputWrite() { writingThread.store(0); }

void completeGuardedWav() {
    gateClosed.store(true);
    pid_t self = gettid();
    const timespec pause = {0, 10 * 1000 * 1000};
    for (int i = 0; i < 200; ++i) {
        pid_t writer = writingThread.load();
        // A write interrupted on this very thread has returned or not begun: nothing moves.
        if (writer == 0 || writer == self) break;
        nanosleep(&pause, nullptr);
    }
    int fd = guardedFd.load();
    struct stat st;
    if (fd < 0 || fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size < kHeaderLength) return;
    // The same sizes the writer sets at a normal end; pwrite leaves the stream's position alone.
    if (putLe32(fd, static_cast<uint32_t>(st.st_size - kHeaderLength), 40))
        putLe32(fd, static_cast<uint32_t>(st.st_size - 8), 4);
}
