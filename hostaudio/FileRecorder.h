// Copies what passes through the service into a file, for checking a run afterwards.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

namespace hostaudio {

class FileRecorder {
public:
    FileRecorder() = default;
    ~FileRecorder();
    FileRecorder(const FileRecorder&) = delete;
    FileRecorder& operator=(const FileRecorder&) = delete;

    // Starts recording to the file named by the environment variable, if it is set.
    // Failures are reported on standard error; the caller carries on without a record.
    void openFromEnv(const char* variable, bool truncate);

    void write(const uint8_t* data, size_t length);
    // One unit: its length as 4 bytes little-endian, then its bytes.
    void writeUnit(const uint8_t* data, uint32_t length);

private:
    void fail();

    std::FILE* mFile = nullptr;
    std::string mPath;
};

}  // namespace hostaudio
