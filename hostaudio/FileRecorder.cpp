#include "FileRecorder.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace hostaudio {

FileRecorder::~FileRecorder() {
    if (mFile != nullptr && std::fclose(mFile) != 0) {
        std::fprintf(stderr, "hostaudio: cannot complete %s: %s\n", mPath.c_str(), std::strerror(errno));
    }
}

void FileRecorder::openFromEnv(const char* variable, bool truncate) {
    const char* path = std::getenv(variable);
    if (path == nullptr || *path == '\0') {
        return;
    }
    mPath = path;
    mFile = std::fopen(path, truncate ? "wb" : "ab");
    if (mFile == nullptr) {
        std::fprintf(stderr, "hostaudio: cannot open %s=%s: %s\n", variable, path, std::strerror(errno));
    }
}

void FileRecorder::write(const uint8_t* data, size_t length) {
    if (mFile != nullptr && length > 0 && std::fwrite(data, 1, length, mFile) != length) {
        fail();
    }
}

void FileRecorder::writeUnit(const uint8_t* data, uint32_t length) {
    if (mFile == nullptr) {
        return;
    }
    const uint8_t prefix[4] = {uint8_t(length), uint8_t(length >> 8), uint8_t(length >> 16), uint8_t(length >> 24)};
    if (std::fwrite(prefix, 1, 4, mFile) != 4) {
        fail();
        return;
    }
    write(data, length);
}

// A record with a hole would mislead whoever checks it, so it stops at the first error.
void FileRecorder::fail() {
    std::fprintf(stderr, "hostaudio: recording to %s stopped: %s\n", mPath.c_str(), std::strerror(errno));
    std::fclose(mFile);
    mFile = nullptr;
}

}  // namespace hostaudio
