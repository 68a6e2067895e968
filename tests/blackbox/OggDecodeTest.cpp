// Ogg files end to end: Vorbis, Opus and FLAC in Ogg from real encoders, the packets handed
// to the decoder behind their prefix, and the PCM against ffmpeg's decode of the same file.
#include <gtest/gtest.h>

#include "Reference.h"
#include "TestSupport.h"
#include "ToolRunner.h"

using namespace blackbox;
using testsupport::TempDir;

namespace {

typedef std::vector<uint8_t> Bytes;

const char kEnd[] = "[AST][WRN]Read audio data stopped.\n[AST][INF]Decoder(decoder0) is working still, waiting...\n";

std::string lines(const std::string& in, const std::string& out, const std::string& messages) {
    return argsLines(in, out) + "[AST][INF]File suffix=ogg, codec=112.\n" + kThreadLines + messages + kEnd;
}

struct Page {
    size_t offset;
    Bytes lacing;
    size_t dataStart;
    size_t end;
};

std::vector<Page> pagesOf(const Bytes& file) {
    std::vector<Page> pages;
    for (size_t at = 0; at + 27 <= file.size();) {
        Page p{at, Bytes(file.begin() + static_cast<long>(at + 27), file.begin() + static_cast<long>(at + 27 + file[at + 26])),
               at + 27 + file[at + 26], 0};
        p.end = p.dataStart;
        for (uint8_t l : p.lacing) p.end += l;
        pages.push_back(p);
        at = p.end;
    }
    return pages;
}

size_t packetsEndingOn(const std::vector<Page>& pages, size_t count) {
    size_t n = 0;
    for (size_t i = 0; i < count; ++i)
        for (uint8_t l : pages[i].lacing) n += l < 255;
    return n;
}

// The same packets on pages of at most `segments` lacing values each.
Bytes repage(const Bytes& file, size_t segments) {
    Bytes out;
    for (const Page& p : pagesOf(file)) {
        size_t data = p.dataStart;
        bool continued = file[p.offset + 5] & 1;
        for (size_t first = 0; first < p.lacing.size(); first += segments) {
            size_t n = std::min(segments, p.lacing.size() - first);
            Bytes header(file.begin() + static_cast<long>(p.offset), file.begin() + static_cast<long>(p.offset + 26));
            header[5] = static_cast<uint8_t>((continued ? 1 : 0) | (first == 0 ? file[p.offset + 5] & 2 : 0));
            header.push_back(static_cast<uint8_t>(n));
            out.insert(out.end(), header.begin(), header.end());
            size_t bytes = 0;
            for (size_t i = first; i < first + n; ++i) bytes += p.lacing[i];
            out.insert(out.end(), p.lacing.begin() + static_cast<long>(first), p.lacing.begin() + static_cast<long>(first + n));
            out.insert(out.end(), file.begin() + static_cast<long>(data), file.begin() + static_cast<long>(data + bytes));
            data += bytes;
            continued = p.lacing[first + n - 1] == 255;
        }
    }
    return out;
}

// Empty when every unit is a prefixed packet counted from 0, the first `headers` of them are
// the codec's header packets, and the rest are ffprobe's packets one for one (the muxer's
// closing empty packet aside). Otherwise what is wrong.
std::string unitsArePackets(const std::vector<Bytes>& units, const std::vector<testsupport::Packet>& packets,
                            size_t headers) {
    for (size_t i = 0; i < units.size(); ++i) {
        const Bytes& u = units[i];
        if (u.size() < 8 || u[0] != 0x76 || u[1] != 0x62 || u[2] != 0x73 || u[3] != 0x49 ||
            (u[4] << 8 | u[5]) != static_cast<int>(u.size()) || (u[6] << 8 | u[7]) != static_cast<int>(i & 0xFFFF))
            return "unit " + std::to_string(i) + " has a wrong prefix";
    }
    if (packets.empty() || units.size() < headers + packets.size())
        return std::to_string(units.size()) + " units for " + std::to_string(packets.size()) + " packets";
    for (size_t k = 0; k < packets.size(); ++k)
        if (static_cast<long>(units[headers + k].size()) - 8 != packets[k].size)
            return "unit " + std::to_string(headers + k) + " is not packet " + std::to_string(k);
    for (size_t i = headers + packets.size(); i < units.size(); ++i)
        if (units[i].size() != 8) return "unit " + std::to_string(i) + " follows the last packet";
    return "";
}

struct Fixture {
    const char* label;
    std::string source;   // lavfi source
    std::string options;  // ffmpeg output options
    int channels;
    size_t headerUnits;
    int bytesPerSample;
    long maxTail;  // frames past the reference: granule positions trim the end, units do not carry them
    size_t repage;  // > 0: the file again on pages of this many lacing values
};

std::string tones(int channels, int rate, const char* layout) {
    std::string e;
    for (int c = 0; c < channels; ++c) e += (c ? "|" : "") + std::string("0.4*sin(") + std::to_string(330 + 110 * c) + "*2*PI*t)";
    return "aevalsrc='" + e + "':c=" + layout + ":s=" + std::to_string(rate) + ":d=1.2";
}

void decodeAndCompare(const Fixture& f) {
    SCOPED_TRACE(f.label);
    TempDir dir;
    std::string encoded = dir.path("encoded.ogg"), in = dir.path("in.ogg"), out = dir.path("out.pcm"),
                units = dir.path("units.bin");
    std::string encode = "ffmpeg -nostdin -y -f lavfi -i " + f.source + " -fflags +bitexact " + f.options + " " + encoded;
    ASSERT_TRUE(testsupport::shell(encode)) << encode;
    Bytes file = testsupport::readFile(encoded);
    testsupport::writeFile(in, f.repage ? repage(file, f.repage) : file);

    ToolResult r = runTool({{"-f=" + in, "-v=" + out}, {{"HOSTAUDIO_UNITS_FILE", units}}});
    EXPECT_EQ(0, r.exitCode);
    EXPECT_EQ(lines(in, out, "[AST][INF]Reached end of data:0.\n"), mainThreadLines(r.out));
    EXPECT_EQ("", r.err) << "the host service found a unit it could not take";
    std::vector<Bytes> handed = readUnits(units);
    EXPECT_EQ("", unitsArePackets(handed, testsupport::ffprobePackets(encoded), f.headerUnits));
    if (f.repage) {
        ASSERT_GE(handed.size(), 3u);
        EXPECT_GT(handed[2].size(), 8 + 255 * f.repage) << "the setup header spans pages";
    }

    Bytes ours = testsupport::readFile(out);
    Bytes reference = testsupport::ffmpegDecode(encoded, f.bytesPerSample == 2 ? "s16le" : "s32le");
    long frameBytes = f.bytesPerSample * f.channels;
    long tail = (static_cast<long>(ours.size()) - static_cast<long>(reference.size())) / frameBytes;
    EXPECT_GE(tail, 0);
    EXPECT_LE(tail, f.maxTail);
    if (tail >= 0) ours.resize(reference.size());
    testsupport::PcmMatch m = testsupport::comparePcm(ours, reference, f.bytesPerSample, f.channels, 0, 0);
    EXPECT_TRUE(m.ok) << m.detail;
}

TEST(OggDecode, Vorbis) {
    const Fixture fixtures[] = {
        {"mono 44.1k", tones(1, 44100, "mono"), "-c:a libvorbis -q:a 3", 1, 3, 2, 2048, 0},
        {"stereo 48k", tones(2, 48000, "stereo"), "-c:a libvorbis", 2, 3, 2, 2048, 0},
        {"5.1 48k", tones(6, 48000, "5.1"), "-c:a libvorbis", 6, 3, 2, 2048, 0},
        {"setup header over several pages", tones(2, 44100, "stereo"), "-c:a libvorbis", 2, 3, 2, 2048, 3},
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

// Pages of both streams are unpacked in file order; only the first stream's headers set up
// the decoder, the second's are skipped with a diagnostic.
TEST(OggDecode, TwoLogicalStreams) {
    TempDir dir;
    std::string in = dir.path("two.ogg"), out = dir.path("out.pcm"), units = dir.path("units.bin");
    ASSERT_TRUE(testsupport::shell("ffmpeg -nostdin -y -f lavfi -i " + tones(2, 48000, "stereo") + " -f lavfi -i " +
                                   tones(1, 48000, "mono") + " -map 0 -map 1 -c:a:0 libvorbis -c:a:1 libopus " + in));
    ToolResult r = runTool({{"-f=" + in, "-v=" + out}, {{"HOSTAUDIO_UNITS_FILE", units}}});
    EXPECT_EQ(0, r.exitCode);
    EXPECT_EQ(lines(in, out, "[AST][INF]Reached end of data:0.\n"), mainThreadLines(r.out));
    EXPECT_NE(std::string::npos, r.err.find("unit 2: the Opus identification header of another logical stream"));
    EXPECT_NE(std::string::npos, r.err.find("a header packet of another logical stream"));

    Bytes file = testsupport::readFile(in);
    std::vector<Page> pages = pagesOf(file);
    std::vector<Bytes> handed = readUnits(units);
    EXPECT_EQ(packetsEndingOn(pages, pages.size()), handed.size()) << "every packet of both streams";
    ASSERT_GE(handed.size(), 3u);
    EXPECT_EQ(0, memcmp(handed[0].data() + 8, "\x01vorbis", 7));
    EXPECT_EQ(0, memcmp(handed[1].data() + 8, "OpusHead", 8)) << "the beginning pages come first";
    EXPECT_FALSE(testsupport::readFile(out).empty());
}

TEST(OggDecode, DamagedFilesEndCleanly) {
    TempDir dir;
    std::string vorbis = dir.path("vorbis.ogg"), noise = dir.path("noise.ogg");
    ASSERT_TRUE(testsupport::shell("ffmpeg -nostdin -y -f lavfi -i " + tones(2, 44100, "stereo") +
                                   " -c:a libvorbis -page_duration 100000 " + vorbis));
    // Noise does not compress: 4608 samples of 8 channels make FLAC frames of about 110 kB.
    ASSERT_TRUE(testsupport::shell("ffmpeg -nostdin -y -f lavfi -i anoisesrc=a=1:d=0.2:r=48000 -af "
                                   "'pan=7.1|c0=c0|c1=c0|c2=c0|c3=c0|c4=c0|c5=c0|c6=c0|c7=c0' -c:a flac "
                                   "-sample_fmt s32 " + noise));
    Bytes file = testsupport::readFile(vorbis);
    std::vector<Page> pages = pagesOf(file);
    ASSERT_GT(pages.size(), 8u);

    Bytes noLacing = file;
    noLacing[pages[5].offset + 26] = 0;
    size_t firstPiece = 0;
    for (size_t i = 0; i < pages[6].lacing.size() && (i == 0 || pages[6].lacing[i - 1] == 255); ++i)
        firstPiece += pages[6].lacing[i];
    ASSERT_GT(firstPiece, 10u);
    Bytes cut(file.begin(), file.begin() + static_cast<long>(pages[6].dataStart + 10));

    struct Case {
        const char* label;
        Bytes file;
        std::string messages;
        size_t units;
        bool pcm;
    };
    const Case cases[] = {
        {"a page without lacing values", noLacing, "[AST][ERR]OGG file segment number error:0\n",
         packetsEndingOn(pages, 5), true},
        {"lacing past the end of the file", cut, "[AST][INF]Reached end of data:10.\n", packetsEndingOn(pages, 6), true},
        {"a packet too long for its prefix", testsupport::readFile(noise),
         "[AST][ERR]OGG packet longer than 65527 bytes, stop reading pages.\n", 2, false},
    };
    Bytes reference = testsupport::ffmpegDecode(vorbis, "s16le");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        std::string name = std::to_string(&c - cases);
        std::string in = dir.path(name + ".ogg"), out = dir.path(name + ".pcm"), units = dir.path(name + ".units");
        testsupport::writeFile(in, c.file);
        ToolResult r = runTool({{"-f=" + in, "-v=" + out}, {{"HOSTAUDIO_UNITS_FILE", units}}});
        EXPECT_EQ(0, r.exitCode);
        EXPECT_EQ(lines(in, out, c.messages), mainThreadLines(r.out));
        EXPECT_EQ(c.units, readUnits(units).size());
        Bytes ours = testsupport::readFile(out);
        if (!c.pcm) {
            EXPECT_TRUE(ours.empty());
            continue;
        }
        // What was decoded is the start of the whole file's decode.
        ASSERT_GT(ours.size(), 0u);
        ASSERT_LT(ours.size(), reference.size());
        Bytes start(reference.begin(), reference.begin() + static_cast<long>(ours.size()));
        testsupport::PcmMatch m = testsupport::comparePcm(ours, start, 2, 2, 0, 0);
        EXPECT_TRUE(m.ok) << m.detail;
    }
}

}  // namespace
