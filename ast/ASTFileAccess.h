// ASTDataAccess over a file descriptor. The destructor closes a file still open, silently; owners
// that need to know whether the data reached the file call close().
//
// Readers take a frame of a few KiB at a time and skip or step back over header bytes, so a
// reading file is buffered here, 256 KiB at a time: reads, seeks and tells inside the buffered
// bytes never reach the kernel. Writes are not buffered, so that a written count is what reached
// the file. Positions are 64-bit; interrupted and partial reads and writes are carried on.
#pragma once

#include <string>

#include "ASTDataAccess.h"

class ASTFileAccess : public ASTDataAccess {
public:
    ASTFileAccess() = default;
    ~ASTFileAccess() override;
    ASTFileAccess(const ASTFileAccess&) = delete;
    ASTFileAccess& operator=(const ASTFileAccess&) = delete;

    bool open(const char* path, uint16_t modeFlags) override;
    // False, after a line naming the file, when the system reports that written data was lost.
    bool close() override;
    int64_t tell() override;
    bool seek(int64_t offset, int32_t whence) override;
    int32_t read(uint8_t* buffer, int32_t length) override;
    int32_t write(const uint8_t* buffer, int32_t length) override;
    bool isEof() override;
    bool isOpen() override { return mFd >= 0; }
    int descriptor() override { return mFd; }

private:
    static const int32_t kBufferSize = 256 * 1024;

    bool checkOpen();
    // Reads up to length bytes from the descriptor, fewer only at the end or on an error.
    int32_t readFile(uint8_t* buffer, int32_t length);
    int32_t readBuffered(uint8_t* buffer, int32_t length);
    bool seekBuffered(int64_t offset, int32_t whence);
    bool skipForward(int64_t target);

    int mFd = -1;
    uint16_t mMode = MODE_BINARY;
    std::string mPath;
    // The buffer of a reading file; without one (other modes, or no memory) reads go straight through.
    uint8_t* mBuffer = nullptr;
    int64_t mBufferStart = 0;   // file position of mBuffer[0]
    int32_t mBufferLength = 0;  // bytes held
    int32_t mBufferPos = 0;     // next byte to hand out
    bool mEof = false;          // a read came up short at the end of the file
    bool mWaits = false;        // a pipe or device: reads wait in poll
};
