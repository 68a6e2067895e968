// ALAC in M4A end to end: the atom walk as printed, the packets behind their packet header,
// and the PCM against ffmpeg's decode of the same file.
#include <gtest/gtest.h>

#include <algorithm>

#include "Reference.h"
#include "TestSupport.h"
#include "ToolRunner.h"

using namespace blackbox;
using testsupport::TempDir;

namespace {

typedef std::vector<uint8_t> Bytes;

const char kEnd[] = "[AST][WRN]Read audio data stopped.\n[AST][INF]Decoder(decoder0) is working still, waiting...\n";
const char kInvalid[] = "[AST][ERR]Invalid audio data reader.\n";

uint64_t be(const Bytes& f, size_t at, int bytes) {
    uint64_t v = 0;
    for (int i = 0; i < bytes; ++i) v = v << 8 | f[at + static_cast<size_t>(i)];
    return v;
}

// The atoms in file order, children of the sample-table path included.
void atomNames(const Bytes& f, size_t from, size_t to, std::vector<std::string>& names) {
    for (size_t at = from; at + 8 <= to;) {
        uint64_t size = be(f, at, 4), header = 8;
        if (size == 1) size = be(f, at + 8, 8), header = 16;
        std::string type(f.begin() + static_cast<long>(at + 4), f.begin() + static_cast<long>(at + 8));
        names.push_back(type);
        if (type == "moov" || type == "trak" || type == "mdia" || type == "minf" || type == "stbl")
            atomNames(f, at + header, at + size, names);
        at += size;
    }
}

// The walk's lines, up to and including the atom named `last` if given.
std::string walkLines(const Bytes& file, const std::string& last = "") {
    std::vector<std::string> names;
    atomNames(file, 0, file.size(), names);
    std::string lines;
    for (const std::string& n : names) {
        lines += "[AST][INF]atom:" + n + "\n";
        if (n == last) return lines;
    }
    return lines + "[AST][INF]Reached end of data:0.\n";
}

std::string opening(const std::string& in, const std::string& out, const Bytes& file) {
    return argsLines(in, out) + "[AST][INF]File suffix=m4a, codec=160.\n" + walkLines(file);
}

std::string parsed(int rate, int channels) {
    return "[AST][INF]parseAlacHeader:\n[AST][INF]sampleFrequency=" + std::to_string(rate) + "\n[AST][INF]channelMap=" +
           std::to_string(channels <= 2 ? channels : 0) + "(1-Mono/2-Stereo)\n";
}

std::string tones(int channels, int rate) {
    std::string e;
    for (int c = 0; c < channels; ++c) e += (c ? "|" : "") + std::string("0.4*sin(") + std::to_string(330 + 110 * c) + "*2*PI*t)";
    const char* layout = channels == 1 ? "mono" : channels == 2 ? "stereo" : "5.1";
    return "aevalsrc='" + e + "':c=" + layout + ":s=" + std::to_string(rate) + ":d=1.1";
}

bool encode(const std::string& path, int channels, int rate, int bits, const std::string& extra) {
    return testsupport::shell("ffmpeg -nostdin -y -f lavfi -i " + tones(channels, rate) + " -fflags +bitexact -c:a alac " +
                              "-sample_fmt " + (bits == 16 ? "s16p " : "s32p ") + extra + " " + path);
}

// Each unit must be the packet ffprobe finds, behind its header; 4096 samples a packet.
std::string unitsArePackets(const std::vector<Bytes>& units, const Bytes& file,
                            const std::vector<testsupport::Packet>& packets, int bits, int rate) {
    if (packets.empty() || units.size() != packets.size())
        return std::to_string(units.size()) + " units for " + std::to_string(packets.size()) + " packets";
    for (size_t i = 0; i < units.size(); ++i) {
        uint32_t size = static_cast<uint32_t>(packets[i].size) | (i + 1 == units.size() ? 0x80000000u : 0);
        Bytes expected = {'A', 'L', 'A', 'C', uint8_t(size >> 24), uint8_t(size >> 16), uint8_t(size >> 8),
                          uint8_t(size), uint8_t(bits), uint8_t(rate >> 16), uint8_t(rate >> 8), uint8_t(rate),
                          0, 0, 0x10, 0};
        expected.insert(expected.end(), file.begin() + packets[i].position,
                        file.begin() + packets[i].position + packets[i].size);
        if (units[i] != expected) return "unit " + std::to_string(i) + " is not packet " + std::to_string(i);
    }
    return "";
}

struct Fixture {
    const char* label;
    int channels;
    int rate;
    int bits;
    std::string options;
    bool largeMdatSize;  // the 'mdat' header rewritten with a 64-bit size
};

// The 'mdat' header rewritten with its size in 64 bits.
Bytes withLargeMdatSize(Bytes f) {
    const char type[] = "mdat";
    long at = std::search(f.begin(), f.end(), type, type + 4) - f.begin() - 4;
    uint64_t size = be(f, static_cast<size_t>(at), 4) + 8;
    Bytes header = {0, 0, 0, 1, 'm', 'd', 'a', 't'};
    for (int i = 7; i >= 0; --i) header.push_back(static_cast<uint8_t>(size >> (8 * i)));
    f.erase(f.begin() + at, f.begin() + at + 8);
    f.insert(f.begin() + at, header.begin(), header.end());
    return f;
}

TEST(AlacDecode, RealFilesDecodeLikeFfmpeg) {
    const Fixture fixtures[] = {
        {"16-bit stereo, 'moov' last", 2, 44100, 16, "", false},
        {"16-bit mono, 'moov' first", 1, 22050, 16, "-movflags +faststart", false},
        {"24-bit stereo", 2, 48000, 24, "", false},
        {"24-bit 6 channels, 'moov' first", 6, 96000, 24, "-movflags +faststart", false},
        {"16-bit stereo, 64-bit 'mdat' size", 2, 44100, 16, "", true},
    };
    for (const Fixture& f : fixtures) {
        SCOPED_TRACE(f.label);
        TempDir dir;
        std::string encoded = dir.path("encoded.m4a"), in = dir.path("in.m4a"), out = dir.path("out.pcm"),
                    units = dir.path("units.bin");
        ASSERT_TRUE(encode(encoded, f.channels, f.rate, f.bits, f.options));
        Bytes original = testsupport::readFile(encoded);
        Bytes file = f.largeMdatSize ? withLargeMdatSize(original) : original;
        testsupport::writeFile(in, file);

        ToolResult r = runTool({{"-f=" + in, "-v=" + out}, {{"HOSTAUDIO_UNITS_FILE", units}}});
        EXPECT_EQ(0, r.exitCode);
        EXPECT_EQ(opening(in, out, file) + parsed(f.rate, f.channels) + kThreadLines +
                      "[AST][WRN]No more frame to read.\n" + kEnd,
                  mainThreadLines(r.out));
        EXPECT_EQ("", r.err) << "the host service found a unit it could not take";
        EXPECT_EQ("", unitsArePackets(readUnits(units), original, testsupport::ffprobePackets(encoded), f.bits, f.rate));
        Bytes reference = testsupport::ffmpegDecode(encoded, f.bits == 16 ? "s16le" : "s32le");
        EXPECT_FALSE(reference.empty());
        EXPECT_TRUE(reference == testsupport::readFile(out)) << "lossless: the same samples";
    }
}

TEST(AlacDecode, DamagedFiles) {
    TempDir dir;
    std::string alac = dir.path("alac.m4a"), aac = dir.path("aac.m4a");
    ASSERT_TRUE(encode(alac, 2, 44100, 16, "-movflags +faststart"));
    ASSERT_TRUE(testsupport::shell("ffmpeg -nostdin -y -f lavfi -i " + tones(2, 44100) + " -c:a aac " + aac));
    Bytes file = testsupport::readFile(alac);
    std::vector<testsupport::Packet> packets = testsupport::ffprobePackets(alac);
    ASSERT_GT(packets.size(), 3u);

    const testsupport::Packet last = packets.back();
    Bytes cut(file.begin(), file.begin() + last.position + last.size / 2);

    struct Case {
        const char* label;
        Bytes file;
        std::string tail;  // what follows the Args and suffix lines
        int exitCode;
        size_t units;
    };
    const Case cases[] = {
        {"an 'stsd' that is not ALAC", testsupport::readFile(aac),
         walkLines(testsupport::readFile(aac), "stsd") + "[AST][ERR]Found no 'ALAC' audio format.\n" + kInvalid, 255, 0},
        {"'mdat' cut in the last packet", cut,
         walkLines(cut) + parsed(44100, 2) + kThreadLines + "[AST][INF]Reached end of data:" +
             std::to_string(last.size / 2) + ".\n" + kEnd,
         0, packets.size() - 1},
    };
    Bytes reference = testsupport::ffmpegDecode(alac, "s16le");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        std::string name = std::to_string(&c - cases);
        std::string in = dir.path(name + ".m4a"), out = dir.path(name + ".pcm"), units = dir.path(name + ".units");
        testsupport::writeFile(in, c.file);
        ToolResult r = runTool({{"-f=" + in, "-v=" + out}, {{"HOSTAUDIO_UNITS_FILE", units}}});
        EXPECT_EQ(c.exitCode, r.exitCode);
        EXPECT_EQ(argsLines(in, out) + "[AST][INF]File suffix=m4a, codec=160.\n" + c.tail, mainThreadLines(r.out));
        EXPECT_EQ(c.units, readUnits(units).size());
        if (c.units == 0) continue;
        // The packets before the cut decode to the start of the whole file's PCM.
        Bytes ours = testsupport::readFile(out);
        ASSERT_GT(ours.size(), 0u);
        ASSERT_LT(ours.size(), reference.size());
        EXPECT_TRUE(Bytes(reference.begin(), reference.begin() + static_cast<long>(ours.size())) == ours);
    }
}

}  // namespace
