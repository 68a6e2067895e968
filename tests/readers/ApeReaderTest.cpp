#include <gtest/gtest.h>

#include "ApeAudioDataReader.h"
#include "ApeFile.h"

using testsupport::ApeLayout;
using testsupport::captureStdout;
using testsupport::TempDir;

namespace {

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
        const ApeLayout& l = c.layout;
        testsupport::ApeStream expected{l.version, l.level, c.bits, l.channels, l.rate, c.blocksPerFrame,
                                        l.finalFrameBlocks, file.seekTable, uint32_t(file.audioEnd)};
        if (l.version < 3980) expected.end = uint32_t(file.bytes.size());  // tail included

        std::vector<std::vector<uint8_t>> units;
        std::string out = captureStdout([&] {
            ApeAudioDataReader reader(path.c_str());
            ASSERT_FALSE(reader.isInvalid());
            EXPECT_EQ(l.rate, reader.getAudioInfo()->sampleFrequency);
            for (FrameBuffer* f = reader.readFrame(); f->length > 0; f = reader.readFrame())
                units.emplace_back(f->data, f->data + f->length);
            EXPECT_EQ(0, reader.readFrame()->length);
        });
        EXPECT_EQ(testsupport::apeOpenLines(file.seekTable, l.rate, c.channelMap) +
                      "[AST][INF]File reached the last audio frame.\n[AST][INF]File reached the last audio frame.\n",
                  out);
        EXPECT_EQ("", testsupport::apeUnitsMismatch(units, file.bytes, expected));
        if (l.frameLengths[0] == 3000) {
            ASSERT_GE(units.size(), 3u);
            EXPECT_EQ(1024u, units[0].size());
            EXPECT_EQ(1024u, units[1].size());
            EXPECT_EQ(972u, units[2].size());
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
        {"short descriptor", std::vector<uint8_t>(plain.begin(), plain.begin() + 30),
         "[AST][INF]Reached end of data:24.\n" + fail},
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

TEST(ApeReader, SeekEntryBeyondThe32BitRangeEndsTheStream) {
    ApeLayout l;
    testsupport::ApeFile file = testsupport::buildApe(l);
    file.bytes[76 + 7] = 0xFF;  // the second entry now lies 2^31 bytes or more past the first
    file.seekTable[1] |= 0xFF000000u;
    TempDir dir;
    std::string path = dir.path("a.ape");
    testsupport::writeFile(path, file.bytes);
    std::string out = captureStdout([&] { EXPECT_EQ(0, ApeAudioDataReader(path.c_str()).readFrame()->length); });
    EXPECT_EQ(testsupport::apeOpenLines(file.seekTable, l.rate, 2) + "[AST][ERR]Invalid frame length.\n", out);
}

}  // namespace
