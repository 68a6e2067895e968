#include "ASTFileAccess.h"

#include <cstdlib>
#include <cstring>
#include <sys/stat.h>

#include "ASTLog.h"

ASTFileAccess::~ASTFileAccess() { free(mBuffer); }

bool ASTFileAccess::open(const char* path, uint16_t modeFlags) {
    if (path == nullptr) {
        astLog("[AST][ERR]File path is NULL.\n");
        return false;
    }
    if (mStream != nullptr) close();  // no caller reopens; never leak a stream if one does
    const char* mode = (modeFlags & MODE_READ) ? "rb" : (modeFlags & MODE_WRITE) ? "wb" : "rb+";
    mStream = fopen64(path, mode);
    // A directory opens for reading but holds no data: refused like any file that cannot be
    // opened, rather than read as an empty stream.
    struct stat st;
    if (mStream != nullptr && fstat(fileno(mStream), &st) == 0 && S_ISDIR(st.st_mode)) {
        fclose(mStream);
        mStream = nullptr;
    }
    if (mStream == nullptr) {
        astLog("[AST][ERR]Failed to open file '%s'.\n", path);
        return false;
    }
    mMode = modeFlags;
    if (modeFlags & MODE_READ) mBuffer = static_cast<uint8_t*>(malloc(kBufferSize));
    mReading = mBuffer != nullptr;  // else stdio buffers the reads as usual
    // A reading stream is buffered here instead. A written count must be what reached the file:
    // a buffered write would report success and fail only at a later flush (a full device, a
    // file size limit), with a count of nothing.
    if (mReading || !(modeFlags & MODE_READ)) setvbuf(mStream, nullptr, _IONBF, 0);
    mBufferStart = 0;
    mBufferLength = mBufferPos = 0;
    mEof = false;
    return true;
}

bool ASTFileAccess::close() {
    if (mStream != nullptr) {
        fclose(mStream);
        mStream = nullptr;
    }
    free(mBuffer);
    mBuffer = nullptr;
    mReading = false;
    return true;
}

bool ASTFileAccess::checkOpen() {
    if (mStream != nullptr) return true;
    astLog("[AST][ERR]File is NOT open.\n");
    return false;
}

int32_t ASTFileAccess::tell() {
    if (!checkOpen()) return -1;
    if (mReading) return static_cast<int32_t>(mBufferStart + mBufferPos);
    return static_cast<int32_t>(ftello64(mStream));
}

bool ASTFileAccess::seek(int32_t offset, int32_t whence) {
    if (!checkOpen()) return false;
    if (mReading) return seekBuffered(offset, whence);
    int origin = whence == 1 ? SEEK_CUR : whence == 2 ? SEEK_END : SEEK_SET;
    return fseeko64(mStream, offset, origin) == 0;
}

int32_t ASTFileAccess::read(uint8_t* buffer, int32_t length) {
    if (!checkOpen()) return -1;
    if (mMode & MODE_WRITE) {
        astLog("[AST][ERR]File is NOT readable, please check READ permission.\n");
        return -1;
    }
    if (length <= 0 || buffer == nullptr) return 0;
    if (mReading) return readBuffered(buffer, length);
    return static_cast<int32_t>(fread(buffer, 1, static_cast<size_t>(length), mStream));
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
            int32_t n = static_cast<int32_t>(fread(buffer + done, 1, static_cast<size_t>(wanted), mStream));
            mBufferStart += n;
            done += n;
            if (n < wanted) break;
            continue;
        }
        mBufferLength = static_cast<int32_t>(fread(mBuffer, 1, kBufferSize, mStream));
        if (mBufferLength == 0) break;
    }
    // As with stdio's own indicator: only a read that comes up short at the end sets it.
    if (done < length) mEof = feof(mStream) != 0;
    return done;
}

bool ASTFileAccess::seekBuffered(int32_t offset, int32_t whence) {
    int64_t target;
    if (whence == 2) {
        if (fseeko64(mStream, offset, SEEK_END) != 0) return false;
        target = ftello64(mStream);
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
    if (fseeko64(mStream, target, SEEK_SET) != 0) return false;
    mBufferStart = target;
    mBufferLength = mBufferPos = 0;
    mEof = false;
    return true;
}

int32_t ASTFileAccess::write(const uint8_t* buffer, int32_t length) {
    if (!checkOpen()) return -1;
    if (mMode & MODE_READ) {
        astLog("[AST][ERR]File is NOT writable, please check WRITE permission.\n");
        return -1;
    }
    if (length <= 0 || buffer == nullptr) return 0;
    return static_cast<int32_t>(fwrite(buffer, 1, static_cast<size_t>(length), mStream));
}

bool ASTFileAccess::isEof() {
    if (!checkOpen()) return true;
    if (mReading) return mEof;
    return feof(mStream) != 0;
}

bool seekReported(ASTDataAccess& access, int32_t offset, int32_t whence) {
    if (access.seek(offset, whence)) return true;
    astLog("[AST][ERR]Failed to seek to %d from %d, ret=%d.\n", offset, whence, 0);
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
    astLog("%s:", title);
    char chunk[512];
    size_t used = 0;
    for (uint32_t i = 0; i < length; ++i) {
        uint8_t b = data[i];
        if ((b >= 0x20 && b <= 0x7E) || b == 0x0A) {
            chunk[used++] = static_cast<char>(b);
            if (used == sizeof(chunk)) {
                astWrite(chunk, used);
                used = 0;
            }
        }
    }
    astWrite(chunk, used);
    astWrite("\n", 1);
}
