// ASTDataAccess over a stdio stream. The destructor neither closes nor flushes: owners close.
#pragma once

#include <cstdio>

#include "ASTDataAccess.h"

class ASTFileAccess : public ASTDataAccess {
public:
    ASTFileAccess() = default;
    ~ASTFileAccess() override = default;
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

private:
    bool checkOpen();

    FILE* mStream = nullptr;
    uint16_t mMode = MODE_BINARY;
};
