// ASTDataAccess over a stdio stream. The destructor neither closes nor flushes: owners close.
//
// Readers take a frame of a few KiB at a time and skip or step back over header bytes, and
// through stdio every seek and most reads would cost a system call. A reading stream is
// therefore unbuffered in stdio and buffered here instead, 256 KiB at a time: reads, seeks
// and tells inside the buffered bytes never reach the kernel. Writing streams are unbuffered, so
// that a written count is what reached the file.
#pragma once

#include <cstdio>

#include "ASTDataAccess.h"

class ASTFileAccess : public ASTDataAccess {
public:
    ASTFileAccess() = default;
    ~ASTFileAccess() override;
    ASTFileAccess(const ASTFileAccess&) = delete;
    ASTFileAccess& operator=(const ASTFileAccess&) = delete;

    bool open(const char* path, uint16_t modeFlags) override;
    bool close() override;
    int32_t tell() override;
    bool seek(int32_t offset, int32_t whence) override;
    int32_t read(uint8_t* buffer, int32_t length) override;
    int32_t write(const uint8_t* buffer, int32_t length) override;
    bool isEof() override;
    bool isOpen() override { return mStream != nullptr; }
    int descriptor() override { return mStream != nullptr ? fileno(mStream) : -1; }

private:
    static const int32_t kBufferSize = 256 * 1024;

    bool checkOpen();
    int32_t readBuffered(uint8_t* buffer, int32_t length);
    bool seekBuffered(int32_t offset, int32_t whence);

    FILE* mStream = nullptr;
    uint16_t mMode = MODE_BINARY;
    // The buffer of a reading stream; without one (other modes, or no memory) stdio's serves.
    uint8_t* mBuffer = nullptr;
    bool mReading = false;
    int64_t mBufferStart = 0;   // file position of mBuffer[0]
    int32_t mBufferLength = 0;  // bytes held
    int32_t mBufferPos = 0;     // next byte to hand out
    bool mEof = false;          // a read came up short at the end of the file
};
