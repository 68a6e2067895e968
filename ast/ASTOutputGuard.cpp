#include "ASTOutputGuard.h"

#include <atomic>
#include <cstdint>
#include <ctime>
#include <sys/stat.h>
#include <unistd.h>

namespace {

std::atomic<int> guardedFd(-1);
std::atomic<pid_t> writerThread(0);  // the thread that writes the output
std::atomic<bool> writing(false);
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

void guardWavOutput(int fd) {
    writerThread.store(fd >= 0 ? gettid() : 0);
    guardedFd.store(fd);
}

void enterOutputWrite() {
    // Sequentially consistent on both sides: either the handler sees the write in progress and
    // waits, or this thread sees the gate closed and writes nothing.
    writing.store(true);
    if (!gateClosed.load()) return;
    writing.store(false);
    for (;;) pause();
}

void leaveOutputWrite() { writing.store(false); }

void completeGuardedWav() {
    gateClosed.store(true);
    // On the writing thread itself, an interrupted write has returned or not begun: nothing moves.
    const timespec step = {0, 10 * 1000 * 1000};
    if (writerThread.load() != gettid())
        for (int i = 0; i < 200 && writing.load(); ++i) nanosleep(&step, nullptr);
    int fd = guardedFd.load();
    struct stat st;
    if (fd < 0 || fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size < kHeaderLength) return;
    // The same sizes the writer sets at a normal end; pwrite leaves the stream's position alone.
    if (putLe32(fd, static_cast<uint32_t>(st.st_size - kHeaderLength), 40))
        putLe32(fd, static_cast<uint32_t>(st.st_size - 8), 4);
}
