// Ogg files from real encoders end to end: the packets behind their prefix against ffprobe's,
// and the PCM against ffmpeg's decode of the same file.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "Reference.h"
#include "TestSupport.h"
#include "ToolRunner.h"

using namespace blackbox;
using testsupport::TempDir;

namespace {

typedef std::vector<uint8_t> Bytes;

std::string lines(const std::string& in, const std::string& out, const std::string& messages) {
    return argsLines(in, out) + "[AST][INF]File suffix=ogg, codec=112.\n" + kThreadLines + messages +
           "[AST][WRN]Read audio data stopped.\n[AST][INF]Decoder(decoder0) is working still, waiting...\n";
}

struct Page {
    size_t offset, dataStart;
    Bytes lacing;
};

std::vector<Page> pagesOf(const Bytes& f) {
    std::vector<Page> pages;
    for (size_t at = 0; at + 27 <= f.size();) {
        Page p{at, at + 27 + f[at + 26],
               Bytes(f.begin() + static_cast<long>(at + 27), f.begin() + static_cast<long>(at + 27 + f[at + 26]))};
        pages.push_back(p);
        at = p.dataStart;
        for (uint8_t l : p.lacing) at += l;
    }
    return pages;
}

size_t packetsEndingOn(const std::vector<Page>& pages, size_t count) {
    size_t n = 0;
    for (size_t i = 0; i < count; ++i)
        n += std::count_if(pages[i].lacing.begin(), pages[i].lacing.end(), [](uint8_t l) { return l < 255; });
    return n;
}

// The same packets on pages of at most `segments` lacing values (flags and CRC left as they were).
Bytes repage(const Bytes& f, size_t segments) {
    Bytes out;
    for (const Page& p : pagesOf(f)) {
        size_t data = p.dataStart;
        for (size_t first = 0; first < p.lacing.size(); first += segments) {
            size_t n = std::min(segments, p.lacing.size() - first), bytes = 0;
            out.insert(out.end(), f.begin() + static_cast<long>(p.offset),
                       f.begin() + static_cast<long>(p.offset + 26));
            out.push_back(static_cast<uint8_t>(n));
            for (size_t i = first; i < first + n; ++i) out.push_back(p.lacing[i]), bytes += p.lacing[i];
            out.insert(out.end(), f.begin() + static_cast<long>(data), f.begin() + static_cast<long>(data + bytes));
            data += bytes;
        }
    }
    return out;
}

std::string tones(int channels, int rate, const char* layout) {
    std::string e;
    for (int c = 0; c < channels; ++c)
        e += (c ? "|" : "") + std::string("0.4*sin(") + std::to_string(330 + 110 * c) + "*2*PI*t)";
    return "aevalsrc='" + e + "':c=" + layout + ":s=" + std::to_string(rate) + ":d=1.2";
}

struct Fixture {
    const char* label;
    std::string source, options;
    int channels;
    size_t headerUnits;
    int bytesPerSample;
    long maxTail;   // frames past the reference: only granule positions trim the end
    size_t repage;  // > 0: the file again on pages of this many lacing values
};

void decodeAndCompare(const Fixture& f) {
    SCOPED_TRACE(f.label);
    TempDir dir;
    std::string encoded = dir.path("encoded.ogg"), in = dir.path("in.ogg"), out = dir.path("out.pcm"),
                units = dir.path("units");
    ASSERT_TRUE(testsupport::shell("ffmpeg -nostdin -y -f lavfi -i " + f.source + " -fflags +bitexact " + f.options +
                                   " " + encoded));
    Bytes file = testsupport::readFile(encoded);
    testsupport::writeFile(in, f.repage ? repage(file, f.repage) : file);

    ToolResult r = runTool({{"-f=" + in, "-v=" + out}, {{"HOSTAUDIO_UNITS_FILE", units}}});
    EXPECT_EQ(0, r.exitCode);
    EXPECT_EQ(lines(in, out, "[AST][INF]Reached end of data:0.\n"), mainThreadLines(r.out));
    EXPECT_EQ("", r.err) << "the host service found a unit it could not take";

    // Header packets first, then ffprobe's packets, then at most the muxer's closing empty packet.
    std::vector<Bytes> handed = readUnits(units);
    std::vector<testsupport::Packet> packets = testsupport::ffprobePackets(encoded);
    ASSERT_FALSE(packets.empty());
    ASSERT_LE(f.headerUnits + packets.size(), handed.size());
    ASSERT_GE(f.headerUnits + packets.size() + 1, handed.size());
    for (size_t i = 0; i < handed.size(); ++i) {
        const Bytes& u = handed[i];
        long size = i < f.headerUnits                    ? static_cast<long>(u.size()) - 8
                    : i - f.headerUnits < packets.size() ? packets[i - f.headerUnits].size
                                                         : 0;
        const uint8_t prefix[] = {
            0x76, 0x62, 0x73, 0x49, uint8_t((size + 8) >> 8), uint8_t(size + 8), uint8_t(i >> 8), uint8_t(i)};
        ASSERT_EQ(static_cast<size_t>(size + 8), u.size()) << "unit " << i;
        EXPECT_EQ(0, memcmp(prefix, u.data(), 8)) << "unit " << i;
    }
    EXPECT_TRUE(!f.repage || handed[2].size() > 8 + 255 * f.repage) << "the setup header spans pages";

    Bytes ours = testsupport::readFile(out),
          reference = testsupport::ffmpegDecode(encoded, f.bytesPerSample == 2 ? "s16le" : "s32le");
    long tail =
        (static_cast<long>(ours.size()) - static_cast<long>(reference.size())) / (f.bytesPerSample * f.channels);
    EXPECT_GE(tail, 0);
    EXPECT_LE(tail, f.maxTail);
    ours.resize(std::min(ours.size(), reference.size()));
    testsupport::PcmMatch m = testsupport::comparePcm(ours, reference, f.bytesPerSample, f.channels, 0, 0);
    EXPECT_TRUE(m.ok) << m.detail;
}

TEST(OggDecode, Vorbis) {
    const Fixture fixtures[] = {
        {"mono 44.1k", tones(1, 44100, "mono"), "-c:a libvorbis -q:a 3", 1, 3, 2, 2048, 0},
        {"5.1 48k", tones(6, 48000, "5.1"), "-c:a libvorbis", 6, 3, 2, 2048, 0},
        {"stereo, setup header over several pages", tones(2, 44100, "stereo"), "-c:a libvorbis", 2, 3, 2, 2048, 3},
    };
    for (const Fixture& f : fixtures) decodeAndCompare(f);
}

TEST(OggDecode, OpusWithItsPreSkip) {
    const Fixture fixtures[] = {
        {"mono", tones(1, 48000, "mono"), "-c:a libopus -b:a 48k", 1, 2, 2, 1920, 0},
        {"stereo", tones(2, 48000, "stereo"), "-c:a libopus", 2, 2, 2, 1920, 0},
        {"5.1", tones(6, 48000, "5.1"), "-c:a libopus", 6, 2, 2, 1920, 0},
    };
    for (const Fixture& f : fixtures) decodeAndCompare(f);
}

TEST(OggDecode, FlacInOgg) {
    const Fixture fixtures[] = {
        {"16-bit stereo", tones(2, 44100, "stereo"), "-c:a flac -sample_fmt s16", 2, 2, 2, 0, 0},
        {"24-bit mono", tones(1, 96000, "mono"), "-c:a flac -sample_fmt s32", 1, 2, 4, 0, 0},
    };
    for (const Fixture& f : fixtures) decodeAndCompare(f);
}

// Both streams' packets reach the decoder in file order; the second's headers are skipped.
TEST(OggDecode, TwoLogicalStreams) {
    TempDir dir;
    std::string in = dir.path("two.ogg"), out = dir.path("out.pcm"), units = dir.path("units");
    ASSERT_TRUE(testsupport::shell("ffmpeg -nostdin -y -f lavfi -i " + tones(2, 48000, "stereo") + " -f lavfi -i " +
                                   tones(1, 48000, "mono") + " -map 0 -map 1 -c:a:0 libvorbis -c:a:1 libopus " + in));
    ToolResult r = runTool({{"-f=" + in, "-v=" + out}, {{"HOSTAUDIO_UNITS_FILE", units}}});
    EXPECT_EQ(0, r.exitCode);
    EXPECT_EQ(lines(in, out, "[AST][INF]Reached end of data:0.\n"), mainThreadLines(r.out));
    EXPECT_NE(std::string::npos, r.err.find("unit 2: the Opus identification header of another logical stream"));
    EXPECT_NE(std::string::npos, r.err.find("unit 5: a header packet of another logical stream"));
    std::vector<Page> pages = pagesOf(testsupport::readFile(in));
    EXPECT_EQ(packetsEndingOn(pages, pages.size()), readUnits(units).size());
    EXPECT_FALSE(testsupport::readFile(out).empty());
}

TEST(OggDecode, DamagedFilesEndCleanly) {
    TempDir dir;
    std::string vorbis = dir.path("vorbis.ogg"), noise = dir.path("noise.ogg");
    ASSERT_TRUE(testsupport::shell("ffmpeg -nostdin -y -f lavfi -i " + tones(2, 44100, "stereo") +
                                   " -c:a libvorbis -page_duration 100000 " + vorbis));
    // Noise does not compress: 8 channels of 24 bits make FLAC frames of about 110 kB.
    ASSERT_TRUE(
        testsupport::shell("ffmpeg -nostdin -y -f lavfi -i anoisesrc=a=1:d=0.2:r=48000 -af "
                           "'pan=7.1|c0=c0|c1=c0|c2=c0|c3=c0|c4=c0|c5=c0|c6=c0|c7=c0' -c:a flac -sample_fmt s32 " +
                           noise));
    Bytes file = testsupport::readFile(vorbis), noLacing = file;
    std::vector<Page> pages = pagesOf(file);
    ASSERT_GT(pages.size(), 8u);
    noLacing[pages[5].offset + 26] = 0;
    ASSERT_GT(pages[6].lacing[0], 10) << "the cut falls inside the page's first piece";
    const Bytes cut(file.begin(), file.begin() + static_cast<long>(pages[6].dataStart + 10));
    struct Case {
        const char* label;
        Bytes file;
        std::string messages;
        size_t units;
    };
    const Case cases[] = {
        {"a page without lacing values", noLacing, "[AST][ERR]OGG file segment number error:0\n",
         packetsEndingOn(pages, 5)},
        {"lacing past the end of the file", cut, "[AST][INF]Reached end of data:10.\n", packetsEndingOn(pages, 6)},
        {"a packet too long for its prefix", testsupport::readFile(noise),
         "[AST][ERR]OGG packet longer than 65527 bytes, stop reading pages.\n", 2},
    };
    Bytes reference = testsupport::ffmpegDecode(vorbis, "s16le");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        std::string name = std::to_string(&c - cases), in = dir.path(name + ".ogg"), out = dir.path(name + ".pcm"),
                    units = dir.path(name);
        testsupport::writeFile(in, c.file);
        ToolResult r = runTool({{"-f=" + in, "-v=" + out}, {{"HOSTAUDIO_UNITS_FILE", units}}});
        EXPECT_EQ(0, r.exitCode);
        EXPECT_EQ(lines(in, out, c.messages), mainThreadLines(r.out));
        EXPECT_EQ(c.units, readUnits(units).size());
        // What was decoded is the start of the whole file's decode (nothing for the FLAC file).
        Bytes ours = testsupport::readFile(out);
        EXPECT_EQ(c.units == 2, ours.empty());
        EXPECT_TRUE(ours.size() < reference.size() && std::equal(ours.begin(), ours.end(), reference.begin()));
    }
}

}  // namespace
