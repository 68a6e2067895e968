#include <gtest/gtest.h>

#include "ApeAudioDataReader.h"
#include "ApeFile.h"

using testsupport::ApeLayout;
using testsupport::captureStdout;
using testsupport::TempDir;

namespace {

std::vector<uint8_t> frameHeader(const ApeLayout& l, uint16_t bits, uint32_t size, uint32_t blocks) {
    std::vector<uint8_t> h = {'A', 'P', 'E', 's'};
    for (int shift = 24; shift >= 0; shift -= 8) h.push_back(uint8_t(size >> shift));
    for (uint16_t v : {l.version, l.level}) h.insert(h.end(), {uint8_t(v >> 8), uint8_t(v)});
    for (int shift = 24; shift >= 0; shift -= 8) h.push_back(uint8_t(blocks >> shift));
    h.push_back(uint8_t(bits));
    h.push_back(uint8_t(l.channels << 4 | (l.rate >> 16 & 0xF)));
    h.push_back(uint8_t(l.rate >> 8));
    h.push_back(uint8_t(l.rate));
    return h;
}

std::vector<uint8_t> reversedWords(const std::vector<uint8_t>& file, size_t from, size_t to) {
    std::vector<uint8_t> out;
    for (size_t i = 0; i < to - from; ++i) out.push_back(file[from + (i & ~size_t(3)) + 3 - (i & 3)]);
    return out;
}

std::string seekTableLines(const std::vector<uint32_t>& table) {
    std::string s;
    for (size_t i = 0; i < table.size(); ++i) {
        s += std::to_string(i) + ":\t" + std::to_string(table[i]) + "\t\n";
        if ((i + 1) % 8 == 0) s += "\n";
    }
    return s + "\n";
}

std::string openLines(const ApeLayout& l, const std::vector<uint32_t>& table, uint32_t channelMap) {
    return seekTableLines(table) + "[AST][INF]parseApeHeader:\n[AST][INF]sampleFrequency=" + std::to_string(l.rate) +
           "\n[AST][INF]channelMap=" + std::to_string(channelMap) + "(1-Mono/2-Stereo)\n";
}

TEST(ApeReader, BothLayoutsDeliverHeadersAndReversedWordsInChunks) {
    struct Case {
        const char* label;
        ApeLayout layout;
        uint32_t blocksPerFrame;
        uint16_t bits;
        uint32_t channelMap;
    };
    ApeLayout wide;  // every optional new-layout part, twenty frames, mono 24-bit
    wide.descriptorLength = 60;
    wide.headerLength = 32;
    wide.spareSeekBytes = 8;
    wide.flags = 0x20;  // the stored WAV header length is then ignored
    wide.channels = 1;
    wide.rate = 8000;
    wide.bitsPerSample = 24;
    wide.blocksPerFrame = 4608;
    wide.frameLengths = {1, 2, 3, 5, 1023, 1021, 7, 1, 1, 1, 2048, 9, 10, 11, 12, 13, 14, 15, 16, 1};
    wide.tailBytes = 3;  // the data end inside a word: its last read still finds four bytes
    ApeLayout tagged;  // what follows the audio data is never delivered
    tagged.tailBytes = 32;
    auto old = [](uint16_t version, uint16_t level, uint16_t flags, uint16_t channels) {
        ApeLayout l;
        l.version = version;
        l.level = level;
        l.flags = flags;
        l.channels = channels;
        l.frameLengths = {4100, 3, 1021};
        l.tailBytes = 4;  // delivered: the last frame runs to the end of the file
        return l;
    };
    const Case cases[] = {
        {"3990", tagged, 73728, 16, 2},
        {"3990 wide", wide, 4608, 24, 1},
        {"3950 peak and seek count", old(3950, 2000, 0x14, 2), 294912, 16, 2},
        {"3900", old(3900, 1000, 0, 1), 73728, 16, 1},
        {"3850 extra high, 24-bit", old(3850, 4000, 0x08, 2), 73728, 24, 2},
        {"3850 high, 8-bit wins", old(3850, 3000, 0x09, 2), 9216, 8, 2},
        {"3790 extra high, no WAV header", old(3790, 4000, 0x20, 6), 9216, 16, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        TempDir dir;
        testsupport::ApeFile file = testsupport::buildApe(c.layout);
        std::string path = dir.path("a.ape");
        testsupport::writeFile(path, file.bytes);
        const bool old = c.layout.version < 3980;
        const size_t end = old ? file.bytes.size() : file.audioEnd;
        std::vector<uint32_t> lengths = c.layout.frameLengths;
        if (old) lengths.back() += c.layout.tailBytes;

        std::vector<uint8_t> payload;
        std::vector<int32_t> chunks;
        std::string out = captureStdout([&] {
            ApeAudioDataReader reader(path.c_str());
            ASSERT_FALSE(reader.isInvalid());
            EXPECT_EQ(c.layout.rate, reader.getAudioInfo()->sampleFrequency);
            size_t frame = 0;
            int64_t left = 0;
            for (FrameBuffer* f = reader.readFrame(); f->length > 0; f = reader.readFrame()) {
                chunks.push_back(f->length);
                ASSERT_LE(f->length, 1024);
                int32_t at = 0;
                if (left == 0) {
                    ASSERT_LT(frame, lengths.size());
                    bool last = frame + 1 == lengths.size();
                    uint32_t size = lengths[frame] | (last ? 0x80000000u : 0);
                    auto expected = frameHeader(c.layout, c.bits, size, last ? 1000 : c.blocksPerFrame);
                    ASSERT_GE(f->length, 20);
                    EXPECT_EQ(expected, std::vector<uint8_t>(f->data, f->data + 20)) << "frame " << frame;
                    left = lengths[frame++];
                    at = 20;
                }
                left -= f->length - at;
                ASSERT_GE(left, 0);
                payload.insert(payload.end(), f->data + at, f->data + f->length);
            }
            EXPECT_EQ(lengths.size(), frame);
            EXPECT_EQ(0, reader.readFrame()->length);
        });
        EXPECT_EQ(openLines(c.layout, file.seekTable, c.channelMap) +
                      "[AST][INF]File reached the last audio frame.\n[AST][INF]File reached the last audio frame.\n",
                  out);
        EXPECT_TRUE(reversedWords(file.bytes, file.audioStart, end) == payload);
        if (c.layout.frameLengths[0] == 3000) {
            EXPECT_EQ((std::vector<int32_t>{1024, 1024, 972}), std::vector<int32_t>(chunks.begin(), chunks.begin() + 3));
        }
    }
}

TEST(ApeReader, RefusedHeaders) {
    auto patched = [](std::vector<uint8_t> b, size_t at, uint32_t value, size_t keep = 0) {
        std::vector<uint8_t> le;
        testsupport::appendLe(le, value, 4);
        std::copy(le.begin(), le.end(), b.begin() + long(at));
        if (keep > 0) b.resize(keep);
        return b;
    };
    const std::vector<uint8_t> plain = testsupport::buildApe(ApeLayout()).bytes;
    const std::string fail = "[AST][ERR]Parse header fail, length3980=-1.\n";
    ApeLayout counted;
    counted.version = 3950;
    counted.flags = 0x10;
    const std::vector<uint8_t> old = testsupport::buildApe(counted).bytes;
    struct Case {
        const char* label;
        std::vector<uint8_t> file;
        std::string out;
    };
    const Case cases[] = {
        {"magic", {'M', 'A', 'C', '!', 0x96, 0x0F},
         "[AST][ERR]APE file magic (MAC ) error(magic=4D414321).\n[AST][ERR]Parse magic header fail.\n"},
        {"three bytes", {'M', 'A', 'C'}, "[AST][INF]Reached end of data:3.\n[AST][ERR]Parse magic header fail.\n"},
        {"short descriptor", std::vector<uint8_t>(plain.begin(), plain.begin() + 30), "[AST][INF]Reached end of data:24.\n" + fail},
        {"no frames", patched(plain, 64, 0),
         "[AST][ERR]APE seek info error, seekNumber=0, seekTableBytes=0, seekTableLength=16, totalFrames=0.\n" + fail},
        {"table longer than its room", patched(plain, 64, 5),
         "[AST][ERR]APE seek info error, seekNumber=5, seekTableBytes=20, seekTableLength=16, totalFrames=5.\n" + fail},
        {"entry count that wraps", patched(plain, 64, 0x40000001),
         "[AST][ERR]APE seek info error, seekNumber=1073741825, seekTableBytes=4, seekTableLength=16, "
         "totalFrames=1073741825.\n" + fail},
        {"table beyond the file", patched(patched(plain, 64, 1000000, 84), 16, 4000000),
         "[AST][INF]Reached end of data:8.\n" + fail},
        {"WAV header beyond 32-bit positions", patched(plain, 20, 0x90000000),
         "[AST][ERR]Failed to seek to -1879048192 from 1, ret=0.\n" + fail},
        {"seek count differs", patched(old, 32, 3),
         "[AST][ERR]APE seek table length error, seekNumber=3, totalFrames=4.\n" + fail},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        TempDir dir;
        std::string path = dir.path("a.ape");
        testsupport::writeFile(path, c.file);
        std::string out = captureStdout([&] { EXPECT_TRUE(ApeAudioDataReader(path.c_str()).isInvalid()); });
        EXPECT_EQ(c.out, out);
    }
}

TEST(ApeReader, CutLastFrameAndBackwardSeekEntryEndTheStream) {
    ApeLayout l;
    l.frameLengths = {3000, 2000};
    testsupport::ApeFile file = testsupport::buildApe(l);
    TempDir dir;
    std::string cut = dir.path("cut.ape"), backward = dir.path("backward.ape");
    // 1003 bytes of the last frame: a first chunk of 1004 asked, 1003 there, not reversible.
    testsupport::writeFile(cut, std::vector<uint8_t>(file.bytes.begin(), file.bytes.begin() + file.audioStart + 4003));
    std::vector<uint8_t> b = file.bytes;
    b[76 + 7] = 0xFF;  // the second entry now lies 2^31 bytes or more past the first
    testsupport::writeFile(backward, b);

    std::vector<uint8_t> last;
    std::string out = captureStdout([&] {
        ApeAudioDataReader reader(cut.c_str());
        for (int i = 0; i < 3; ++i) reader.readFrame();  // the first frame
        FrameBuffer* f = reader.readFrame();
        last.assign(f->data, f->data + f->length);
        EXPECT_EQ(0, reader.readFrame()->length);
    });
    EXPECT_EQ(openLines(l, file.seekTable, 2) +
                  "[AST][INF]Reached end of data:1003.\n[AST][WRN]File read reached unexpexted flow.\n"
                  "[AST][ERR]Cannot reverse endian because of invalid length:1003.\n"
                  "[AST][INF]Reached end of data:0.\n[AST][WRN]File read reached unexpexted flow.\n",
              out);
    ASSERT_EQ(1023u, last.size());
    EXPECT_TRUE(std::equal(last.begin() + 20, last.end(), file.bytes.begin() + file.audioStart + 3000));

    std::vector<uint32_t> table = file.seekTable;
    table[1] |= 0xFF000000u;
    out = captureStdout([&] {
        ApeAudioDataReader reader(backward.c_str());
        EXPECT_EQ(0, reader.readFrame()->length);
    });
    EXPECT_EQ(openLines(l, table, 2) + "[AST][ERR]Invalid frame length.\n", out);
}

}  // namespace
