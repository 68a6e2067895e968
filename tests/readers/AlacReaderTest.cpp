#include <gtest/gtest.h>

#include <cstring>

#include "AlacAudioDataReader.h"
#include "TestSupport.h"

using testsupport::captureStdout;
using testsupport::TempDir;

namespace {

typedef std::vector<uint8_t> Bytes;

void be(Bytes& out, uint64_t v, int bytes) {
    for (int i = bytes - 1; i >= 0; --i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

Bytes join(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const Bytes& p : parts) all.insert(all.end(), p.begin(), p.end());
    return all;
}

Bytes atom(const char* type, const Bytes& body) {
    Bytes a;
    be(a, body.size() + 8, 4);
    a.insert(a.end(), type, type + 4);
    return join({a, body});
}

Bytes atom64(const char* type, const Bytes& body, uint64_t size = 0) {
    Bytes a;
    be(a, 1, 4);
    a.insert(a.end(), type, type + 4);
    be(a, size ? size : body.size() + 16, 8);
    return join({a, body});
}

Bytes atomSized(const char* type, uint32_t size, const Bytes& body) {
    Bytes a;
    be(a, size, 4);
    a.insert(a.end(), type, type + 4);
    return join({a, body});
}

struct Cookie {
    uint32_t frameLength = 4096;
    uint8_t bitDepth = 16;
    uint8_t channels = 2;
    uint32_t rate = 44100;
};

Bytes stsd(const Cookie& c, const char* format = "alac", uint32_t count = 1) {
    Bytes b;
    be(b, 0, 4);
    be(b, count, 4);
    be(b, 72, 4);  // the sample entry
    b.insert(b.end(), format, format + 4);
    b.insert(b.end(), 28, 0);
    be(b, 36, 4);  // the configuration atom
    b.insert(b.end(), {'a', 'l', 'a', 'c'});
    be(b, 0, 4);
    be(b, c.frameLength, 4);
    b.insert(b.end(), {0, c.bitDepth, 40, 10, 14, c.channels, 0, 255});
    be(b, 0, 4);
    be(b, 0, 4);
    be(b, c.rate, 4);
    return atom("stsd", b);
}

Bytes stsz(const std::vector<uint32_t>& sizes, int64_t count = -1) {
    Bytes b;
    be(b, 0, 8);
    be(b, static_cast<uint64_t>(count < 0 ? static_cast<int64_t>(sizes.size()) : count), 4);
    for (uint32_t s : sizes) be(b, s, 4);
    return atom("stsz", b);
}

Bytes moov(const Bytes& tables) {
    Bytes stbl = atom("stbl", join({tables, atom("stco", Bytes(8, 0))}));
    return atom("moov", join({atom("mvhd", Bytes(100, 0)),
                              atom("trak", atom("mdia", join({atom("mdhd", Bytes(24, 0)), atom("minf", stbl)})))}));
}

Bytes packets(const std::vector<uint32_t>& sizes) {
    Bytes all;
    for (size_t i = 0; i < sizes.size(); ++i)
        for (uint32_t k = 0; k < sizes[i]; ++k) all.push_back(static_cast<uint8_t>(i * 31 + k));
    return all;
}

const Bytes kFtyp = atom("ftyp", {'M', '4', 'A', ' ', 0, 0, 0, 0});

// The atom lines of a walk through these atoms.
std::string walk(std::initializer_list<const char*> names) {
    std::string s;
    for (const char* n : names) s += std::string("[AST][INF]atom:") + n + "\n";
    return s;
}

const std::string kMoovWalk = walk({"moov", "mvhd", "trak", "mdia", "mdhd", "minf", "stbl", "stsd", "stsz", "stco"});
const std::string kEnd = "[AST][INF]Reached end of data:0.\n";

std::string parsed(uint32_t rate, uint32_t channelMap) {
    return "[AST][INF]parseAlacHeader:\n[AST][INF]sampleFrequency=" + std::to_string(rate) +
           "\n[AST][INF]channelMap=" + std::to_string(channelMap) + "(1-Mono/2-Stereo)\n";
}

struct AlacRun {
    std::string out;
    bool invalid = true;
    AudioInfo info{};
    std::vector<Bytes> frames;
};

AlacRun run(const Bytes& file) {
    TempDir dir;
    std::string path = dir.path("a.m4a");
    testsupport::writeFile(path, file);
    AlacRun r;
    r.out = captureStdout([&] {
        AlacAudioDataReader reader(path.c_str());
        r.invalid = reader.isInvalid();
        r.info = *reader.getAudioInfo();
        if (r.invalid) return;
        for (int i = 0; i < 100; ++i) {
            FrameBuffer* f = reader.readFrame();
            if (f->length < 1) break;
            r.frames.emplace_back(f->data, f->data + f->length);
        }
    });
    return r;
}

TEST(AlacReader, PacketsFollowTheSizeTableBehindTheirHeader) {
    const std::vector<uint32_t> sizes = {100, 37, 5, 260};
    const Bytes data = packets(sizes);
    const Bytes tables = join({stsd(Cookie()), stsz(sizes)});
    Cookie six;
    six.channels = 6;
    six.bitDepth = 24;
    six.rate = 96000;
    six.frameLength = 1152;
    struct Case {
        const char* label;
        Bytes file;
        std::string walk;
        Cookie cookie;
    };
    const Case cases[] = {
        {"moovFirst", join({kFtyp, moov(tables), atom("mdat", data)}),
         walk({"ftyp"}) + kMoovWalk + walk({"mdat"}) + kEnd, Cookie()},
        {"moovLast", join({kFtyp, atom("mdat", data), moov(tables)}),
         walk({"ftyp", "mdat"}) + kMoovWalk + kEnd, Cookie()},
        {"largeSizes", join({kFtyp, moov(tables), atom64("free", Bytes(3, 0)), atom64("mdat", data)}),
         walk({"ftyp"}) + kMoovWalk + walk({"free", "mdat"}) + kEnd, Cookie()},
        {"otherTopAtoms", join({kFtyp, atom("uuid", Bytes(5, 1)), moov(tables), atom("mdat", data), atom("wide", {})}),
         walk({"ftyp", "uuid"}) + "[AST][WRN]Unexpecte top atom.\n" + kMoovWalk + walk({"mdat", "wide"}) +
             "[AST][WRN]Unexpecte top atom.\n" + kEnd,
         Cookie()},
        {"lastAtomOfSizeZero", join({kFtyp, moov(tables), atom("mdat", data), atomSized("udta", 0, Bytes(9, 0))}),
         walk({"ftyp"}) + kMoovWalk + walk({"mdat"}) + "[AST][INF]Last top atom reached.\n", Cookie()},
        {"sixChannels24Bit", join({kFtyp, moov(join({stsd(six), stsz(sizes)})), atom("mdat", data)}),
         walk({"ftyp"}) + kMoovWalk + walk({"mdat"}) + kEnd, six},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        AlacRun r = run(c.file);
        ASSERT_FALSE(r.invalid) << r.out;
        uint32_t channelMap = c.cookie.channels <= 2 ? c.cookie.channels : 0;
        EXPECT_EQ(c.walk + parsed(c.cookie.rate, channelMap) + "[AST][WRN]No more frame to read.\n", r.out);
        EXPECT_EQ(c.cookie.rate, r.info.sampleFrequency);
        EXPECT_EQ(channelMap, r.info.channelMap);
        ASSERT_EQ(sizes.size(), r.frames.size());
        size_t at = 0;
        for (size_t i = 0; i < sizes.size(); ++i) {
            Bytes header = {'A', 'L', 'A', 'C'};
            be(header, sizes[i] | (i + 1 == sizes.size() ? 0x80000000u : 0), 4);
            header.push_back(c.cookie.bitDepth);
            be(header, c.cookie.rate, 3);
            be(header, c.cookie.frameLength, 4);
            Bytes expected = join({header, Bytes(data.begin() + static_cast<long>(at),
                                                 data.begin() + static_cast<long>(at + sizes[i]))});
            EXPECT_TRUE(expected == r.frames[i]) << "packet " << i;
            at += sizes[i];
        }
    }
}

TEST(AlacReader, DecodingStopsAtTheFirstPacketThatCannotBeRead) {
    struct Case {
        const char* label;
        std::vector<uint32_t> sizes;
        size_t mdatBytes;  // of the sizes' sum
        size_t frames;
        std::string last;
    };
    const Case cases[] = {
        {"mdatCutShort", {50, 60, 70}, 150, 2, "[AST][INF]Reached end of data:40.\n"},
        {"sizePastTheFile", {50, 0x7FFFFFF0u, 70}, 120, 1, "[AST][INF]Reached end of data:70.\n"},
        {"sizeNegative", {50, 0x80000001u, 70}, 190, 1, ""},
        {"sizeZero", {50, 0, 70}, 120, 1, ""},
        {"noSizeTable", {}, 0, 0, "[AST][WRN]No more frame to read.\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        Bytes data(c.mdatBytes, 7);
        Bytes tables = c.sizes.empty() ? stsd(Cookie()) : join({stsd(Cookie()), stsz(c.sizes)});
        std::string tableWalk = c.sizes.empty() ? walk({"moov", "mvhd", "trak", "mdia", "mdhd", "minf", "stbl",
                                                        "stsd", "stco"})
                                                : kMoovWalk;
        AlacRun r = run(join({kFtyp, moov(tables), atom("mdat", data)}));
        ASSERT_FALSE(r.invalid);
        EXPECT_EQ(walk({"ftyp"}) + tableWalk + walk({"mdat"}) + kEnd + parsed(44100, 2) + c.last, r.out);
        EXPECT_EQ(c.frames, r.frames.size());
    }
}

TEST(AlacReader, HeadersTheReaderRejects) {
    struct Case {
        const char* label;
        Bytes file;
        std::string out;
    };
    const Bytes data(100, 1);
    const std::vector<uint32_t> sizes = {60, 40};
    const std::string noMdat = "[AST][ERR]No 'mdat' atom found.\n";
    const std::string badLength = "[AST][ERR]Unexpected 'stsd' atom length.\n";
    const std::string notAlac = "[AST][ERR]Found no 'ALAC' audio format.\n";
    const std::string upToStsd = walk({"moov", "mvhd", "trak", "mdia", "mdhd", "minf", "stbl", "stsd"});
    Bytes shortStsz;
    be(shortStsz, 0, 8);
    be(shortStsz, 3, 4);  // three entries, room for two
    be(shortStsz, 60, 4);
    be(shortStsz, 40, 4);
    const Case cases[] = {
        {"empty", {}, kEnd + noMdat},
        {"noMdat", join({kFtyp, moov(join({stsd(Cookie()), stsz(sizes)}))}),
         walk({"ftyp"}) + kMoovWalk + kEnd + noMdat},
        {"sizeZeroBeforeMdat", join({kFtyp, atomSized("free", 0, {}), atom("mdat", data)}),
         walk({"ftyp"}) + "[AST][INF]Last top atom reached.\n" + noMdat},
        {"mp4aEntry", join({moov(join({stsd(Cookie(), "mp4a"), stsz(sizes)})), atom("mdat", data)}),
         upToStsd + notAlac},
        {"twoEntries", join({moov(join({stsd(Cookie(), "alac", 2), stsz(sizes)})), atom("mdat", data)}),
         upToStsd + notAlac},
        {"stsdTooShort", join({moov(atom("stsd", Bytes(79, 0))), atom("mdat", data)}), upToStsd + badLength},
        {"stszTooShort", join({moov(join({stsd(Cookie()), atom("stsz", Bytes(11, 0))})), atom("mdat", data)}),
         upToStsd + walk({"stsz"}) + badLength},
        {"stszCountDoesNotFit", join({moov(join({stsd(Cookie()), atom("stsz", shortStsz)})), atom("mdat", data)}),
         upToStsd + walk({"stsz"}) + badLength},
        {"stszCountNegative", join({moov(join({stsd(Cookie()), stsz(sizes, 0xFFFFFFFF)})), atom("mdat", data)}),
         upToStsd + walk({"stsz"}) + badLength},
        // A body the file does not hold is read as far as it goes, never allocated whole.
        {"stsdPastTheFile", join({kFtyp, atomSized("moov", 0x7FFF0000, atomSized("stsd", 0x7FFE0000, Bytes(90, 0)))}),
         walk({"ftyp", "moov", "stsd"}) + "[AST][INF]Reached end of data:90.\n"},
        {"atomSmallerThanItsHeader", join({kFtyp, atomSized("free", 7, {}), atom("mdat", data)}),
         walk({"ftyp", "free"}) + "[AST][ERR]Atom size 7 is smaller than its header.\n"},
        {"largeSizeSmallerThanItsHeader", join({kFtyp, atom64("mdat", data, 15)}),
         walk({"ftyp", "mdat"}) + "[AST][ERR]Atom size 15 is smaller than its header.\n"},
        {"atomPast2GiB", join({kFtyp, atom64("mdat", data, 0x80000000ull)}),
         walk({"ftyp", "mdat"}) + "[AST][ERR]Atom at 16 of size 2147483648 reaches beyond 2 GiB, not supported.\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        AlacRun r = run(c.file);
        EXPECT_TRUE(r.invalid);
        EXPECT_EQ(c.out, r.out);
    }
}

}  // namespace
