#include "ASTOutputGuard.h"

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <ctime>
#include <sys/stat.h>
#include <unistd.h>

#include "ASTLog.h"

namespace {

std::atomic<int> guardedFd(-1);
std::atomic<pid_t> writerThread(0);  // the thread that writes the output
std::atomic<bool> writing(false);
std::atomic<bool> gateClosed(false);

static_assert(std::atomic<int>::is_always_lock_free && std::atomic<pid_t>::is_always_lock_free &&
                  std::atomic<bool>::is_always_lock_free,
              "the guard is read from a signal handler");

std::atomic<int32_t> guardedHeaderLength(kWavHeaderLength);
std::atomic<uint32_t> guardedBlockAlign(0);

const uint32_t kUnknownSize = 0xFFFFFFFF;

uint8_t* putLe(uint8_t* p, uint64_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) *p++ = static_cast<uint8_t>(value >> (8 * i));
    return p;
}

void setField(WavSizeField* field, int32_t offset, uint64_t value) {
    field->offset = offset;
    field->length = 4;
    putLe(field->bytes, value, 4);
}

}  // namespace

int32_t wavSizeFields(int32_t headerLength, int64_t fileLength, uint32_t blockAlign, WavSizeField* fields,
                      WavSizes* kind) {
    const uint64_t data = static_cast<uint64_t>(fileLength - headerLength);
    const uint64_t riff = static_cast<uint64_t>(fileLength - 8);
    if (riff <= kUnknownSize) {
        *kind = WavSizes::Plain;
        setField(&fields[0], headerLength - 4, data);
        setField(&fields[1], 4, riff);
        return 2;
    }
    setField(&fields[0], headerLength - 4, kUnknownSize);
    if (headerLength != kRf64HeaderLength) {
        *kind = WavSizes::Saturated;
        setField(&fields[1], 4, kUnknownSize);
        return 2;
    }
    *kind = WavSizes::Rf64;
    fields[1].offset = 0;
    fields[1].length = 8;
    putLe(putLe(fields[1].bytes, 0x34364652, 4), kUnknownSize, 4);  // "RF64"
    // ds64: the RIFF and data sizes, the sample frame count and an empty table.
    fields[2].offset = 12;
    fields[2].length = 36;
    uint8_t* p = putLe(putLe(fields[2].bytes, 0x34367364, 4), 28, 4);  // "ds64"
    p = putLe(putLe(p, riff, 8), data, 8);
    putLe(putLe(p, blockAlign != 0 ? data / blockAlign : 0, 8), 0, 4);
    return 3;
}

const char* wavSizesLine(WavSizes kind) {
    if (kind == WavSizes::Rf64) return "[AST][INF]WAV output passed 4 GiB, its header is now RF64.\n";
    if (kind == WavSizes::Saturated)
        return "[AST][WRN]WAV output passed 4 GiB without room for RF64, its sizes are set to 0xFFFFFFFF.\n";
    return nullptr;
}

void guardWavOutput(int fd, int32_t headerLength, uint32_t blockAlign) {
    guardedHeaderLength.store(headerLength);
    guardedBlockAlign.store(blockAlign);
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
    const int32_t headerLength = guardedHeaderLength.load();
    struct stat st;
    if (fd < 0 || fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size < headerLength) return;
    // The same sizes the writer sets at a normal end; pwrite leaves the file position alone.
    WavSizeField fields[3];
    WavSizes kind;
    const int32_t count = wavSizeFields(headerLength, st.st_size, guardedBlockAlign.load(), fields, &kind);
    for (int32_t i = 0; i < count; ++i) {
        ssize_t n;
        do {
            n = pwrite(fd, fields[i].bytes, static_cast<size_t>(fields[i].length), fields[i].offset);
        } while (n < 0 && errno == EINTR);
        if (n != fields[i].length) return;
    }
    if (const char* line = wavSizesLine(kind)) astWrite(line, strlen(line));
}
