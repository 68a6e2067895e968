// The only way readers and the file writer reach files.
#pragma once

#include <cstdint>

class ASTDataAccess {
public:
    enum : uint16_t { MODE_READ = 0x1, MODE_WRITE = 0x2, MODE_BINARY = 0x4 };

    virtual ~ASTDataAccess() = default;
    virtual bool open(const char* path, uint16_t modeFlags) = 0;
    virtual bool close() = 0;
    // Positions and distances are 64-bit: inputs and outputs may pass 4 GiB.
    virtual int64_t tell() = 0;
    virtual bool seek(int64_t offset, int32_t whence) = 0;
    virtual int32_t read(uint8_t* buffer, int32_t length) = 0;
    virtual int32_t write(const uint8_t* buffer, int32_t length) = 0;
    virtual bool isEof() = 0;
    virtual bool isOpen() = 0;
    // The open file's descriptor, for what must reach the file from a signal handler; -1 if none.
    virtual int descriptor() { return -1; }
};

// Seeks as ASTDataAccess::seek does, and on failure prints the seek-failure line every reader and
// writer prints: the target or distance, the origin (0 start, 1 current, 2 end) and 0.
bool seekReported(ASTDataAccess& access, int64_t offset, int32_t whence);

// Debug aid: the bytes as hex (or as text), 16 a line.
void dumpData(const char* title, const uint8_t* data, uint32_t length, bool asText);
// The title, a colon, then the printable bytes of data, line feeds written as \n, then a newline.
void printText(const char* title, const uint8_t* data, uint32_t length);
