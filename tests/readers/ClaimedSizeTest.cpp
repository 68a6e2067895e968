// Headers that claim far more than their file holds: each reader reads what is there, says so on
// the short-read path, and never reserves memory for the claim. The reader runs in a child
// process whose peak address-space growth is measured, which works alike with and without the
// sanitizers' allocators.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>

#include "ApeAudioDataReader.h"
#include "ApeFile.h"
#include "AsfGuid.h"
#include "FlacAudioDataReader.h"
#include "Mp3AudioDataReader.h"
#include "Mp4AudioDataReader.h"
#include "OggAudioDataReader.h"
#include "RaAudioDataReader.h"
#include "ReadAll.h"
#include "WavAudioDataReader.h"
#include "WmaAudioDataReader.h"

namespace {

using Read = std::function<ReadAll(const Bytes&)>;

template <class Reader>
Read with() {
    return [](const Bytes& file) { return readAll<Reader>(file); };
}

// PCM by the header, in frames of 20 ms.
AudioInfo rawPcm{};
struct WavReader : WavAudioDataReader {
    explicit WavReader(const char* path) : WavAudioDataReader(path, &rawPcm, 20) {}
};

long statusKb(const char* field) {
    std::ifstream in("/proc/self/status");
    for (std::string line; std::getline(in, line);)
        if (line.rfind(field, 0) == 0) return atol(line.c_str() + strlen(field) + 1);
    return -1;
}

// What the reader printed, and how far the child's address space grew beyond where it began.
std::pair<std::string, long> readInChild(const Read& read, const Bytes& file) {
    testsupport::TempDir dir;
    const std::string path = dir.path("report");
    fflush(stdout);
    pid_t pid = fork();
    if (pid == 0) {
        const long before = statusKb("VmSize:");
        const std::string out = read(file).out();
        const std::string report = std::to_string(statusKb("VmPeak:") - before) + "\n" + out;
        testsupport::writeFile(path, Bytes(report.begin(), report.end()));
        _exit(0);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    const Bytes bytes = testsupport::readFile(path);
    const std::string report(bytes.begin(), bytes.end());
    const size_t line = report.find('\n');
    if (line == std::string::npos) return {report, -1};
    return {report.substr(line + 1), atol(report.c_str())};
}

const uint32_t kHuge = 0x7FFFFFFF;

Bytes mp3() {
    const Bytes frame = cat({str("TIT2"), be(kHuge, 4), be(0, 2), str("Only twenty-one bytes")});
    return cat({str("ID3"), Bytes{3, 0, 0}, be(frame.size(), 4), frame});
}

Bytes ape() {
    Bytes b = testsupport::buildApe(testsupport::ApeLayout()).bytes;
    std::copy_n(le(kHuge & ~3u, 4).begin(), 4, b.begin() + 16);  // seek table length
    std::copy_n(le(kHuge / 4, 4).begin(), 4, b.begin() + 64);    // frames
    return b;
}

Bytes atom(const std::string& type, const Bytes& body, uint32_t size = 0) {
    return cat({be(size ? size : 8 + body.size(), 4), str(type), body});
}

Bytes alac() {
    const Bytes stsz = atom("stsz", cat({be(0, 4), be(0, 4), be(kHuge / 4, 4), Bytes(40, 1)}), kHuge - 100);
    return cat({atom("ftyp", str("M4A ")), atom("moov", atom("trak", atom("mdia", atom("minf", atom("stbl", stsz)))))});
}

TEST(ClaimedSize, HugeClaimsReadWhatIsThereWithinBoundedMemory) {
    const std::string atoms = inf("atom:ftyp") + inf("atom:moov") + inf("atom:trak") + inf("atom:mdia") +
                              inf("atom:minf") + inf("atom:stbl") + inf("atom:stsz");
    const struct {
        const char* label;
        Read read;
        Bytes file;
        std::string out;
    } cases[] = {
        // The walk ends at the frame; the data frames are looked for behind the whole tag.
        {"ID3v2 frame size", with<Mp3AudioDataReader>(), mp3(),
         inf("Version: ID3V2.3.0 headerSize=31") + endOfData(21) + inf("MP3 file sync word mismatch(2A2 != 7FF).") +
             inf("Skip fill bytes to find first data frame.") + endOfData(0)},
        {"APE seek table", with<ApeAudioDataReader>(), ape(),
         endOfData(4092) + err("Parse header fail, length3980=-1.")},
        {"MP4 'stsz' size and count", with<Mp4AudioDataReader>(), alac(), atoms + endOfData(52)},
        {"ASF header object size", with<WmaAudioDataReader>(),
         cat({Bytes(asfGuidTable[ASF_GUID_HEADER_OBJECT] + 1, asfGuidTable[ASF_GUID_HEADER_OBJECT] + 17), le(kHuge, 8),
              le(3, 4), Bytes{1, 2}, Bytes(200, 0)}),
         endOfData(200)},
        {"RealMedia chunk size", with<RaAudioDataReader>(),
         cat({str(".RMF"), be(kHuge, 4), be(0, 2), be(0, 4), be(4, 4), Bytes(60, 0)}), endOfData(68)},
        {"Ogg lacing", with<OggAudioDataReader>(),
         cat({str("OggS"), Bytes(10, 0), le(1, 12), Bytes{255}, Bytes(255, 255), Bytes(100, 'o')}), endOfData(100)},
        {"FLAC metadata length", with<FlacAudioDataReader>(),
         cat({str("fLaC"), Bytes{0x80, 0xFF, 0xFF, 0xFF}, Bytes(50, 'f')}), endOfData(50)},
        // 20 ms at the header's rate are megabytes.
        {"WAV frame by the rate", with<WavReader>(), testsupport::wavFile({kHuge, 2, 16, 0, false}, Bytes(1000, 'w')),
         summary("parseWavHeader", kHuge, 2) + inf("pcm.bitDepth=16(8-U8/9-S8/16-S16LE/17-S16BE/32-S32LE/33-S32BE)") +
             inf("WAV header length:44") + endOfData(1000) + endOfData(0)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        const std::pair<std::string, long> r = readInChild(c.read, c.file);
        EXPECT_EQ(c.out, r.first);
        EXPECT_GE(r.second, 0);
        EXPECT_LT(r.second, 1024) << "kB of address space grown";
    }
}

}  // namespace
