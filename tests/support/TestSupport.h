// Helpers shared by the tests: temporary folders, captured standard output, synthetic PCM.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace testsupport {

// A fresh folder under the system's temporary directory, removed with its content.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    std::string path(const std::string& name) const { return mPath + "/" + name; }
    const std::string& root() const { return mPath; }

private:
    std::string mPath;
};

// Runs fn with file descriptor 1 sent to a file and returns what was written there.
std::string captureStdout(const std::function<void()>& fn);

std::vector<uint8_t> readFile(const std::string& path);
void writeFile(const std::string& path, const std::vector<uint8_t>& bytes);

// Interleaved PCM of a few sines (one per channel), deterministic.
std::vector<uint8_t> sinePcm(uint32_t rate, uint32_t channels, uint32_t bitsPerSample, uint32_t frames);

struct WavLayout {
    uint32_t rate = 44100, channels = 2, bitsPerSample = 16;
    uint32_t extraFormatBytes = 0;  // behind the 16 standard format bytes
    bool listChunk = false;         // a LIST chunk between "fmt " and "data"
};
// A RIFF/WAVE file image around pcm.
std::vector<uint8_t> wavFile(const WavLayout& layout, const std::vector<uint8_t>& pcm);

void appendLe(std::vector<uint8_t>& out, uint32_t value, int bytes);

}  // namespace testsupport
