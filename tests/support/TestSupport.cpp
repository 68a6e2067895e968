#include "TestSupport.h"

#include "ReaderBytes.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <iterator>
#include <unistd.h>

namespace testsupport {

TempDir::TempDir() {
    const char* base = getenv("TMPDIR");
    std::string pattern = std::string(base != nullptr ? base : "/tmp") + "/ostrel-test-XXXXXX";
    std::vector<char> buf(pattern.begin(), pattern.end());
    buf.push_back('\0');
    if (mkdtemp(buf.data()) != nullptr) mPath = buf.data();
}

TempDir::~TempDir() {
    if (!mPath.empty()) {
        std::string cmd = "rm -rf '" + mPath + "'";
        if (system(cmd.c_str()) != 0) fprintf(stderr, "could not remove %s\n", mPath.c_str());
    }
}

std::string captureStdout(const std::function<void()>& fn) {
    fflush(stdout);
    char name[] = "/tmp/ostrel-stdout-XXXXXX";
    int fd = mkstemp(name);
    int saved = dup(STDOUT_FILENO);
    dup2(fd, STDOUT_FILENO);
    fn();
    fflush(stdout);
    dup2(saved, STDOUT_FILENO);
    close(saved);
    close(fd);
    std::vector<uint8_t> bytes = readFile(name);
    unlink(name);
    return std::string(bytes.begin(), bytes.end());
}

std::vector<uint8_t> readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void writeFile(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

void appendLe(std::vector<uint8_t>& out, uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) out.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

std::vector<uint8_t> sinePcm(uint32_t rate, uint32_t channels, uint32_t bitsPerSample, uint32_t frames) {
    std::vector<uint8_t> out;
    const double scale = std::ldexp(1.0, static_cast<int>(bitsPerSample) - 1) - 1;
    for (uint32_t i = 0; i < frames; ++i) {
        for (uint32_t c = 0; c < channels; ++c) {
            // 8-bit samples are unsigned.
            int64_t v = llround(0.6 * sin(2.0 * M_PI * (220.0 * (c + 1)) * i / rate) * scale);
            appendLe(out, static_cast<uint32_t>(bitsPerSample == 8 ? v + 128 : v), static_cast<int>(bitsPerSample / 8));
        }
    }
    return out;
}

std::vector<uint8_t> wavFile(const WavLayout& layout, const std::vector<uint8_t>& pcm) {
    const uint32_t blockAlign = layout.channels * layout.bitsPerSample / 8;
    std::vector<uint8_t> extra, list;
    for (uint32_t i = 0; i < layout.extraFormatBytes; ++i) extra.push_back(static_cast<uint8_t>(0xE0 + i));
    if (layout.listChunk) list = cat({str("LIST"), le(12, 4), str("INFOISFT"), le(0, 4)});
    return cat({str("RIFF"), le(36 + extra.size() + list.size() + pcm.size(), 4), str("WAVEfmt "),
                le(16 + extra.size(), 4), le(1, 2), le(layout.channels, 2), le(layout.rate, 4),
                le(layout.rate * blockAlign, 4), le(blockAlign, 2), le(layout.bitsPerSample, 2), extra, list,
                str("data"), le(pcm.size(), 4), pcm});
}

}  // namespace testsupport
