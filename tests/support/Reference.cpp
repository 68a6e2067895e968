#include "Reference.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>

#include "TestSupport.h"

namespace testsupport {

bool shell(const std::string& command) {
    std::string quiet = "( " + command + " ) >/dev/null 2>&1";
    return system(quiet.c_str()) == 0;
}

std::vector<uint8_t> ffmpegDecode(const std::string& file, const std::string& format, const std::string& input) {
    testsupport::TempDir dir;
    std::string out = dir.path("ref.raw");
    if (!shell("ffmpeg -nostdin -y " + input + " -i '" + file + "' -f " + format + " '" + out + "'")) return {};
    return testsupport::readFile(out);
}

std::vector<Packet> ffprobePackets(const std::string& file) {
    testsupport::TempDir dir;
    std::string out = dir.path("packets.csv");
    std::vector<Packet> packets;
    if (!shell("ffprobe -v error -select_streams a:0 -show_entries packet=pos,size -of csv=p=0 '" + file + "' > '" +
               out + "'"))
        return packets;
    std::ifstream text(out);
    long size = 0, position = 0;
    for (std::string line; std::getline(text, line);)
        if (sscanf(line.c_str(), "%ld,%ld", &size, &position) == 2) packets.push_back({position, size});
    return packets;
}

std::vector<std::vector<uint8_t>> readUnits(const std::string& path) {
    std::vector<uint8_t> bytes = testsupport::readFile(path);
    std::vector<std::vector<uint8_t>> units;
    size_t at = 0;
    while (at + 4 <= bytes.size()) {
        size_t n = bytes[at] | bytes[at + 1] << 8 | bytes[at + 2] << 16 | static_cast<size_t>(bytes[at + 3]) << 24;
        at += 4;
        if (n > bytes.size() - at) break;  // a cut record: the caller sees fewer units
        units.emplace_back(bytes.begin() + static_cast<long>(at), bytes.begin() + static_cast<long>(at + n));
        at += n;
    }
    return units;
}

namespace {

int64_t sampleAt(const std::vector<uint8_t>& pcm, size_t index, int bytes) {
    const uint8_t* p = pcm.data() + index * static_cast<size_t>(bytes);
    if (bytes == 2) return static_cast<int16_t>(p[0] | p[1] << 8);
    return static_cast<int32_t>(p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24);
}

// Largest difference over the overlap at this shift, stopping early past the tolerance.
int64_t worstDiff(const std::vector<uint8_t>& ours, const std::vector<uint8_t>& ref, int bytes, int channels,
                  long shift, int64_t stopAbove, size_t* compared) {
    long oursFrames = static_cast<long>(ours.size() / bytes / channels);
    long refFrames = static_cast<long>(ref.size() / bytes / channels);
    long first = std::max(0L, -shift), last = std::min(refFrames, oursFrames - shift);
    int64_t worst = 0;
    *compared = last > first ? static_cast<size_t>(last - first) : 0;
    for (long f = first; f < last; ++f) {
        for (int c = 0; c < channels; ++c) {
            int64_t d = std::llabs(sampleAt(ours, static_cast<size_t>((f + shift) * channels + c), bytes) -
                                   sampleAt(ref, static_cast<size_t>(f * channels + c), bytes));
            worst = std::max(worst, d);
            if (worst > stopAbove) return worst;
        }
    }
    return worst;
}

}  // namespace

PcmMatch comparePcm(const std::vector<uint8_t>& ours, const std::vector<uint8_t>& reference, int bytesPerSample,
                    int channels, long maxShiftFrames, int tolerance, long uncoveredFrames) {
    PcmMatch m;
    size_t frameBytes = static_cast<size_t>(bytesPerSample * channels);
    if (ours.size() % frameBytes != 0 || reference.size() % frameBytes != 0) {
        m.detail = "PCM is not a whole number of frames";
        return m;
    }
    long oursFrames = static_cast<long>(ours.size() / frameBytes);
    long refFrames = static_cast<long>(reference.size() / frameBytes);
    if (refFrames == 0) {
        m.detail = "empty reference";
        return m;
    }
    int64_t best = INT64_MAX;
    for (long shift = -maxShiftFrames; shift <= maxShiftFrames; ++shift) {
        size_t compared = 0;
        int64_t worst = worstDiff(ours, reference, bytesPerSample, channels, shift, tolerance, &compared);
        // Only alignments that cover the reference count: lost audio must not pass, and silence
        // alone matches anything.
        if (static_cast<long>(compared) + uncoveredFrames < refFrames) continue;
        if (worst < best) {
            best = worst;
            m.shiftFrames = shift;
            m.comparedFrames = compared;
        }
        if (worst == 0) break;
    }
    if (best == INT64_MAX) {
        m.detail = "no alignment covers the reference: ours " + std::to_string(oursFrames) + " frames, reference " +
                   std::to_string(refFrames) + ", " + std::to_string(uncoveredFrames) + " may be missing";
        return m;
    }
    m.maxDiff = static_cast<int>(std::min<int64_t>(best, INT32_MAX));
    m.ok = best <= tolerance;
    if (!m.ok) m.detail = "best shift " + std::to_string(m.shiftFrames) + " still differs by " + std::to_string(best);
    return m;
}

}  // namespace testsupport
