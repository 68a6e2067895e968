#include "DecodedFile.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

extern "C" {
#include <libavformat/avformat.h>
}

namespace compare {
namespace {

uint32_t le(const FileBytes& b, size_t at, int bytes) {
    uint32_t v = 0;
    for (int i = bytes - 1; i >= 0; --i) v = v << 8 | b[at + size_t(i)];
    return v;
}

bool tagIs(const FileBytes& b, size_t at, const char* tag) {
    return at + 4 <= b.size() && memcmp(b.data() + at, tag, 4) == 0;
}

// Coded streams without a magic of their own, told by frames following one another as the
// demuxers' probes tell them: MPEG audio, ADTS, AC-3 and E-AC-3.
const char* syncedKind(const FileBytes& b) {
    static const struct {
        const char* format;
        const char* kind;
    } kStreams[] = {{"mp3", "MPEG audio"}, {"aac", "AAC ADTS"}, {"ac3", "AC-3"}, {"eac3", "E-AC-3"}};
    const size_t size = std::min<size_t>(b.size(), 1 << 16);
    std::vector<uint8_t> probe(size + AVPROBE_PADDING_SIZE, 0);
    if (size > 0) memcpy(probe.data(), b.data(), size);
    AVProbeData data{};
    data.filename = "";
    data.buf = probe.data();
    data.buf_size = int(size);
    int score = 0;
    const AVInputFormat* format = av_probe_input_format3(&data, 1, &score);
    for (const auto& s : kStreams)
        if (format != nullptr && score >= AVPROBE_SCORE_MAX / 2 && strcmp(format->name, s.format) == 0) return s.kind;
    return nullptr;
}

// Encoded files handed over as the decoder's output by mistake.
const char* encodedKind(const FileBytes& b) {
    static const struct {
        size_t at;
        const char* magic;
        size_t length;
        const char* kind;
    } kMagics[] = {
        {0, "ID3", 3, "MP3 with an ID3 tag"}, {0, "fLaC", 4, "FLAC"}, {0, "OggS", 4, "Ogg"},
        {0, "MAC ", 4, "Monkey's Audio"},     {4, "ftyp", 4, "MP4"},  {0, ".RMF", 4, "RealMedia"},
        {0, "\x30\x26\xB2\x75", 4, "ASF"},
    };
    for (const auto& m : kMagics)
        if (b.size() >= m.at + m.length && memcmp(b.data() + m.at, m.magic, m.length) == 0) return m.kind;
    return tagIs(b, 0, "RIFF") ? nullptr : syncedKind(b);
}

// True when the bytes from `at` to the end are whole chunks, as a LIST chunk behind the data would be.
bool wholeChunks(const FileBytes& b, size_t at) {
    while (at < b.size()) {
        if (at + 8 > b.size()) return false;
        for (size_t i = 0; i < 4; ++i)
            if (b[at + i] < 0x20 || b[at + i] > 0x7E) return false;
        const uint64_t size = le(b, at + 4, 4);
        if (size > b.size() - at - 8) return false;
        at += 8 + size + (size & 1);
    }
    return true;
}

bool parseWav(DecodedFile& f, std::string& error) {
    const FileBytes& b = f.bytes;
    bool haveFormat = false;
    size_t at = 12;
    while (at + 8 <= b.size()) {
        const uint32_t size = le(b, at + 4, 4);
        const size_t body = at + 8;
        if (tagIs(b, at, "fmt ")) {
            if (size < 16 || size > b.size() - body) {
                error = "its WAV format chunk is cut short";
                return false;
            }
            uint32_t tag = le(b, body, 2);
            if (tag == 0xFFFE && size >= 26) tag = le(b, body + 24, 2);  // the extensible form's subformat
            f.channels = int(le(b, body + 2, 2));
            f.rate = int(le(b, body + 4, 4));
            const uint32_t align = le(b, body + 12, 2), bits = le(b, body + 14, 2);
            if (tag != 1 || (bits != 8 && bits != 16 && bits != 24 && bits != 32) ||
                !SampleCoding::fromCode(int(bits), f.coding)) {
                error = "its WAV header describes format " + std::to_string(tag) + " with " + std::to_string(bits) +
                        " bits, not integer PCM of 8, 16, 24 or 32 bits";
                return false;
            }
            if (f.channels < 1 || f.channels > 64 || f.rate < 1 || align != uint32_t(f.channels) * bits / 8) {
                error = "its WAV header describes " + std::to_string(f.channels) + " channels at " +
                        std::to_string(f.rate) + " Hz in blocks of " + std::to_string(align) + " bytes";
                return false;
            }
            haveFormat = true;
        } else if (tagIs(b, at, "data")) {
            if (!haveFormat) {
                error = "its WAV data chunk comes before the format chunk";
                return false;
            }
            f.dataOffset = body;
            const size_t held = b.size() - body;
            f.dataBytes = size;
            if (size > held || (size < held && !wholeChunks(b, body + size + (size & 1)))) {
                f.findings.push_back("the WAV header says " + std::to_string(size) + " data bytes, the file holds " +
                                     std::to_string(held));
                f.dataBytes = held;
            }
            if (le(b, 4, 4) != b.size() - 8)
                f.findings.push_back("the RIFF header says " + std::to_string(le(b, 4, 4)) +
                                     " bytes follow it, the file holds " + std::to_string(b.size() - 8));
            return true;
        }
        if (size > b.size() - body) break;
        at = body + size + (size & 1);
    }
    error = haveFormat ? "its WAV header has no data chunk" : "its WAV header has no format chunk";
    return false;
}

}  // namespace

std::string notRegular(const std::string& path) {
    struct stat st {};
    if (stat(path.c_str(), &st) != 0)
        return "cannot open " + path + ": " + (errno == ENOENT ? "no such file" : strerror(errno));
    const char* kind = S_ISREG(st.st_mode)                          ? nullptr
                       : S_ISDIR(st.st_mode)                        ? "a folder"
                       : S_ISFIFO(st.st_mode)                       ? "a FIFO"
                       : S_ISCHR(st.st_mode) || S_ISBLK(st.st_mode) ? "a device"
                       : S_ISSOCK(st.st_mode)                       ? "a socket"
                                                                    : "not a regular file";
    return kind == nullptr ? "" : path + " is " + kind + ", not a file";
}

bool FileBytes::map(const std::string& path, size_t size, std::string& error) {
    release();
    const int fd = open(path.c_str(), O_RDONLY);
    if (fd < 0) {
        error = "cannot open " + path + ": " + strerror(errno);
        return false;
    }
    void* mapped = size > 0 ? mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0) : nullptr;
    close(fd);
    if (mapped == MAP_FAILED) {
        error = "cannot read " + path + ": " + strerror(errno);
        return false;
    }
    mData = static_cast<const uint8_t*>(mapped);
    mSize = size;
    return true;
}

void FileBytes::release() {
    if (mData != nullptr) munmap(const_cast<uint8_t*>(mData), mSize);
    mData = nullptr, mSize = 0;
}

bool readDecodedFile(const std::string& path, DecodedFile& f, std::string& error) {
    error = notRegular(path);
    if (!error.empty()) return false;
    struct stat st {};
    stat(path.c_str(), &st);
    // Told from the size before anything is read.
    if (uint64_t(st.st_size) > kMaxSamples * 4 + (1 << 20)) {
        error = path + " is too long to compare: at most " + std::to_string(kMaxSamples * 4) + " bytes of samples";
        return false;
    }
    if (!f.bytes.map(path, size_t(st.st_size), error)) return false;
    if (f.bytes.empty()) {
        error = path + " is empty: the decoder wrote no PCM";
        return false;
    }
    if (const char* kind = encodedKind(f.bytes)) {
        error = path + " is an encoded file (" + kind + "), not decoded PCM";
        return false;
    }
    if (tagIs(f.bytes, 0, "RIFF")) {
        if (!tagIs(f.bytes, 8, "WAVE")) {
            error = path + " is a RIFF file but not WAV";
            return false;
        }
        f.wav = true;
        if (!parseWav(f, error)) {
            error = path + ": " + error;
            return false;
        }
    } else {
        f.dataBytes = f.bytes.size();
    }
    return true;
}

bool decodedSamples(DecodedFile& f, int rate, int channels, const SampleCoding& coding, Signal& out,
                    std::string& error) {
    const size_t frameBytes = size_t(channels) * size_t(coding.bytes());
    const size_t frames = f.dataBytes / frameBytes;
    if (f.dataBytes % frameBytes != 0)
        f.findings.push_back(
            std::to_string(f.dataBytes % frameBytes) +
            (f.dataBytes % frameBytes == 1 ? " byte at the end does not" : " bytes at the end do not") +
            " make a whole frame of " + std::to_string(frameBytes) + " bytes");
    if (frames == 0) {
        error = "the decoded file holds no whole sample frame";
        return false;
    }
    if (frames * size_t(channels) > kMaxSamples) {
        error = "the decoded file is too long to compare";
        return false;
    }
    out.rate = rate;
    out.channels = channels;
    out.bits = coding.bits;
    if (!out.samples.resize(frames * size_t(channels))) {
        error = "no room for its samples in the temporary folder";
        return false;
    }
    const int n = coding.bytes();
    const uint8_t* p = f.bytes.data() + f.dataOffset;
    for (size_t i = 0; i < out.samples.size(); ++i, p += n) {
        uint32_t v = 0;
        for (int k = 0; k < n; ++k) v |= uint32_t(p[coding.bigEndian ? n - 1 - k : k]) << (8 * k);
        const int shift = 32 - coding.bits;
        // To the top of 32 bits and back, which extends the sign.
        const int32_t s = int32_t(v << shift) >> shift;
        out.samples[i] = coding.isSigned ? s : int32_t(v) - (1 << (coding.bits - 1));
    }
    return true;
}

}  // namespace compare
