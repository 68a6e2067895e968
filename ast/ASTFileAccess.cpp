#include "ASTFileAccess.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include "ASTLog.h"
#include "ASTSignal.h"

static_assert(sizeof(off_t) == 8, "file positions are 64-bit");

namespace {

// A pipe or a device may hold a read for ever, and a read restarts after a signal: the wait is
// in poll, which a signal always breaks off, so that a stop request ends it. False once a stop
// is requested.
bool waitReadable(int fd) {
    pollfd p = {fd, POLLIN, 0};
    while (!stopRequested.load()) {
        // The slice bounds the wait of a stop that arrives just before poll begins.
        const int n = poll(&p, 1, 200);
        if (n > 0 || (n < 0 && errno != EINTR)) return true;  // read tells the rest
    }
    return false;
}

}  // namespace

ASTFileAccess::~ASTFileAccess() {
    if (mFd >= 0) ::close(mFd);
    free(mBuffer);
}

bool ASTFileAccess::open(const char* path, uint16_t modeFlags) {
    if (path == nullptr) {
        astLog("[AST][ERR]File path is NULL.\n");
        return false;
    }
    if (mFd >= 0) close();  // no caller reopens; never leak a descriptor if one does
    int flags = (modeFlags & MODE_READ) ? O_RDONLY : (modeFlags & MODE_WRITE) ? O_WRONLY | O_CREAT | O_TRUNC : O_RDWR;
    do {
        mFd = ::open(path, flags | O_CLOEXEC, 0666);
    } while (mFd < 0 && errno == EINTR);
    // A directory opens for reading but holds no data: refused like any file that cannot be
    // opened, rather than read as an empty stream.
    struct stat st;
    if (mFd >= 0 && fstat(mFd, &st) == 0 && S_ISDIR(st.st_mode)) {
        ::close(mFd);
        mFd = -1;
    }
    if (mFd < 0) {
        astLog("[AST][ERR]Failed to open file '%s'.\n", escapeText(path).c_str());
        return false;
    }
    mPath = path;
    mMode = modeFlags;
    mWaits = fstat(mFd, &st) == 0 && !S_ISREG(st.st_mode) && !S_ISBLK(st.st_mode);
    if (modeFlags & MODE_READ) mBuffer = static_cast<uint8_t*>(malloc(kBufferSize));
    mBufferStart = 0;
    mBufferLength = mBufferPos = 0;
    mEof = false;
    return true;
}

bool ASTFileAccess::close() {
    bool ok = true;
    if (mFd >= 0) {
        // Not retried on EINTR: Linux has released the descriptor either way. A network file
        // system or a quota reports a failed write-back only here.
        if (::close(mFd) != 0 && errno != EINTR && (mMode & MODE_READ) == 0) {
            astLog("[AST][ERR]Failed to close file '%s', written data may be lost.\n",
                   escapeText(mPath.c_str()).c_str());
            ok = false;
        }
        mFd = -1;
    }
    free(mBuffer);
    mBuffer = nullptr;
    return ok;
}

bool ASTFileAccess::checkOpen() {
    if (mFd >= 0) return true;
    astLog("[AST][ERR]File is NOT open.\n");
    return false;
}

int64_t ASTFileAccess::tell() {
    if (!checkOpen()) return -1;
    if (mBuffer != nullptr) return mBufferStart + mBufferPos;
    return lseek(mFd, 0, SEEK_CUR);
}

bool ASTFileAccess::seek(int64_t offset, int32_t whence) {
    if (!checkOpen()) return false;
    if (mBuffer != nullptr) return seekBuffered(offset, whence);
    int origin = whence == 1 ? SEEK_CUR : whence == 2 ? SEEK_END : SEEK_SET;
    if (lseek(mFd, offset, origin) < 0) return false;
    mEof = false;
    return true;
}

int32_t ASTFileAccess::read(uint8_t* buffer, int32_t length) {
    if (!checkOpen()) return -1;
    if (mMode & MODE_WRITE) {
        astLog("[AST][ERR]File is NOT readable, please check READ permission.\n");
        return -1;
    }
    if (length <= 0 || buffer == nullptr) return 0;
    if (mBuffer != nullptr) return readBuffered(buffer, length);
    return readFile(buffer, length);
}

int32_t ASTFileAccess::readFile(uint8_t* buffer, int32_t length) {
    int32_t done = 0;
    while (done < length) {
        if (mWaits && !waitReadable(mFd)) break;
        ssize_t n = ::read(mFd, buffer + done, static_cast<size_t>(length - done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            // As with stdio's own indicator: only a read that comes up short at the end sets it.
            mEof = n == 0;
            break;
        }
        done += static_cast<int32_t>(n);
    }
    return done;
}

int32_t ASTFileAccess::readBuffered(uint8_t* buffer, int32_t length) {
    int32_t done = 0;
    while (done < length) {
        int32_t held = mBufferLength - mBufferPos;
        if (held > 0) {
            int32_t n = held < length - done ? held : length - done;
            memcpy(buffer + done, mBuffer + mBufferPos, static_cast<size_t>(n));
            mBufferPos += n;
            done += n;
            continue;
        }
        mBufferStart += mBufferLength;
        mBufferLength = mBufferPos = 0;
        int32_t wanted = length - done;
        if (wanted >= kBufferSize) {  // a large block goes straight to the caller
            int32_t n = readFile(buffer + done, wanted);
            mBufferStart += n;
            done += n;
            break;
        }
        mBufferLength = readFile(mBuffer, kBufferSize);
        if (mBufferLength == 0) break;
        mEof = false;  // a short fill is no end until a caller asks past it
    }
    return done;
}

bool ASTFileAccess::seekBuffered(int64_t offset, int32_t whence) {
    int64_t target;
    if (whence == 2) {
        target = lseek(mFd, offset, SEEK_END);
        if (target < 0) return false;
        mBufferStart = target;
        mBufferLength = mBufferPos = 0;
        mEof = false;
        return true;
    }
    target = whence == 1 ? mBufferStart + mBufferPos + offset : offset;
    if (target >= mBufferStart && target <= mBufferStart + mBufferLength) {
        mBufferPos = static_cast<int32_t>(target - mBufferStart);
        mEof = false;
        return true;
    }
    if (target < 0) return false;
    if (lseek(mFd, target, SEEK_SET) < 0) {
        // A pipe cannot seek: forward its bytes are read and dropped, backward past the buffer fails.
        return errno == ESPIPE && target > mBufferStart + mBufferLength && skipForward(target);
    }
    mBufferStart = target;
    mBufferLength = mBufferPos = 0;
    mEof = false;
    return true;
}

bool ASTFileAccess::skipForward(int64_t target) {
    for (;;) {
        mBufferStart += mBufferLength;
        mBufferLength = mBufferPos = 0;
        const int32_t n = readFile(mBuffer, kBufferSize);
        if (n == 0) {
            // At the end the position is the target, past it, as a file's would be.
            if (mEof) mBufferStart = target;
            mEof = false;
            return mBufferStart == target;
        }
        mBufferLength = n;
        if (target <= mBufferStart + n) {
            mBufferPos = static_cast<int32_t>(target - mBufferStart);
            mEof = false;
            return true;
        }
    }
}

int32_t ASTFileAccess::write(const uint8_t* buffer, int32_t length) {
    if (!checkOpen()) return -1;
    if (mMode & MODE_READ) {
        astLog("[AST][ERR]File is NOT writable, please check WRITE permission.\n");
        return -1;
    }
    if (length <= 0 || buffer == nullptr) return 0;
    // A signal or a pipe may take part of a block; the rest follows until the system refuses.
    int32_t done = 0;
    while (done < length) {
        ssize_t n = ::write(mFd, buffer + done, static_cast<size_t>(length - done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        done += static_cast<int32_t>(n);
    }
    return done;
}

bool ASTFileAccess::isEof() {
    if (!checkOpen()) return true;
    return mEof;
}

bool seekReported(ASTDataAccess& access, int64_t offset, int32_t whence) {
    if (access.seek(offset, whence)) return true;
    astLog("[AST][ERR]Failed to seek to %lld from %d, ret=%d.\n", static_cast<long long>(offset), whence, 0);
    return false;
}

void dumpData(const char* title, const uint8_t* data, uint32_t length, bool asText) {
    astLog("%s, dataLen=%d\n", title, static_cast<int>(length));
    char line[16 * 3 + 1];
    size_t used = 0;
    for (uint32_t i = 0; i < length; ++i) {
        uint8_t b = data[i];
        if (asText) {
            line[used++] = (b >= 0x20 && b <= 0x7E) ? static_cast<char>(b) : '.';
        } else {
            static const char hex[] = "0123456789ABCDEF";
            line[used++] = hex[b >> 4];
            line[used++] = hex[b & 0xF];
            line[used++] = ' ';
        }
        if ((i + 1) % 16 == 0) {
            line[used++] = '\n';
            astWrite(line, used);
            used = 0;
        }
    }
    line[used++] = '\n';
    astWrite(line, used);
}

void printText(const char* title, const uint8_t* data, uint32_t length) {
    astLog("%s:", escapeText(title).c_str());
    char chunk[512];
    size_t used = 0;
    for (uint32_t i = 0; i < length; ++i) {
        uint8_t b = data[i];
        // A line feed inside the text would start a line of its own.
        if (b == 0x0A) {
            chunk[used++] = '\\';
            b = 'n';
        }
        if (b >= 0x20 && b <= 0x7E) {
            chunk[used++] = static_cast<char>(b);
            if (used >= sizeof(chunk) - 1) {
                astWrite(chunk, used);
                used = 0;
            }
        }
    }
    astWrite(chunk, used);
    astWrite("\n", 1);
}
