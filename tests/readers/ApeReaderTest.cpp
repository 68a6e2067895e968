// Monkey's Audio headers real encoders do not write: the old layout, the optional parts of the
// new one, and refused or out-of-range headers. jmac's files are covered end to end.
#include <gtest/gtest.h>

#include "ApeAudioDataReader.h"
#include "ApeFile.h"
#include "ReadAll.h"

using testsupport::ApeLayout;

namespace {

const std::string kLastFrame = inf("File reached the last audio frame.");

TEST(ApeReader, BothLayoutsDeliverHeadersAndReversedWordsInChunks) {
    // Fields in order: version, level, flags, channels, rate; descriptor, header and spare seek table
    // lengths, bits (new layout only); blocks per frame, WAV header length, final frame blocks,
    // frame lengths, bytes behind the audio data.
    // Every optional new-layout part, no WAV header (its stored length then ignored), twenty frames.
    // The data end inside a word: the last read still finds four bytes.
    const std::vector<uint32_t> twenty = {1, 2, 3, 5, 1023, 1021, 7, 1, 1, 1, 2048, 9, 10, 11, 12, 13, 14, 15, 16, 1};
    const ApeLayout wide{3990, 2000, 0x20, 1, 8000, 60, 32, 8, 24, 4608, 44, 1000, twenty, 3};
    ApeLayout tagged;  // what follows the audio data is never delivered
    tagged.tailBytes = 32;
    auto old = [](uint16_t version, uint16_t level, uint16_t flags, uint16_t channels) {
        // The last frame runs to the end of the file, the bytes behind it included.
        return ApeLayout{version, level, flags, channels, 44100, 52, 24, 0, 16, 73728, 44, 1000, {4100, 3, 1021}, 4};
    };
    const struct {
        const char* label;
        ApeLayout layout;
        uint32_t blocksPerFrame;
        uint16_t bits;
        uint32_t channelMap;
    } cases[] = {
        {"3990", tagged, 73728, 16, 2},
        {"3990 wide", wide, 4608, 24, 1},
        {"3950 peak and seek count", old(3950, 2000, 0x14, 2), 294912, 16, 2},
        {"3900", old(3900, 1000, 0, 1), 73728, 16, 1},
        {"3850 extra high, 24-bit", old(3850, 4000, 0x08, 2), 73728, 24, 2},
        {"3850 high, 8-bit wins", old(3850, 3000, 0x09, 2), 9216, 8, 2},
        {"3790 extra high, no WAV header", old(3790, 4000, 0x20, 6), 9216, 16, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        const ApeLayout& l = c.layout;
        testsupport::ApeFile file = testsupport::buildApe(l);
        const uint32_t end = uint32_t(l.version < 3980 ? file.bytes.size() : file.audioEnd);  // old: tail included
        ReadAll r = readAll<ApeAudioDataReader>(file.bytes);
        EXPECT_EQ(testsupport::apeOpenLines(file.seekTable, l.rate, c.channelMap) + kLastFrame, r.out());
        EXPECT_EQ("", testsupport::apeUnitsMismatch(r.frames, file.bytes,
                                                    {l.version, l.level, c.bits, l.channels, l.rate, c.blocksPerFrame,
                                                     l.finalFrameBlocks, file.seekTable, end}));
        Lengths first = r.lengths();
        first.resize(3);
        if (l.frameLengths[0] == 3000) {  // the first frame in chunks
            EXPECT_EQ(Lengths({1024, 1024, 972}), first);
        }
    }
}

TEST(ApeReader, RefusedHeaders) {
    // A seek table beyond the file is read as a short read (the claimed-size test).
    auto patched = [](Bytes b, size_t at, uint32_t value) {
        std::copy_n(le(value, 4).begin(), 4, b.begin() + long(at));
        return b;
    };
    testsupport::ApeFile plain = testsupport::buildApe(ApeLayout()), farEntry = plain;
    farEntry.bytes[76 + 7] = 0xFF;  // the second entry now lies 2^31 bytes or more past the first
    farEntry.seekTable[1] |= 0xFF000000u;
    ApeLayout counted;
    counted.version = 3950;
    counted.flags = 0x10;
    const Bytes& p = plain.bytes;
    const std::string fail = err("Parse header fail, length3980=-1.");
    const struct {
        const char* label;
        Bytes file;
        std::string out;
    } cases[] = {
        {"magic", Bytes{'M', 'A', 'C', '!', 0x96, 0x0F},
         err("APE file magic (MAC ) error(magic=4D414321).") + err("Parse magic header fail.")},
        {"three bytes", Bytes{'M', 'A', 'C'}, endOfData(3) + err("Parse magic header fail.")},
        {"ID3v2 tag beyond the file", cat({str("ID3"), Bytes{4, 0, 0x10, 0, 0, 1, 0}}),
         "[AST][WRN]ID3v2 tag of 148 bytes skipped before the APE header.\n" + endOfData(0) +
             err("Parse magic header fail.")},
        {"short descriptor", Bytes(p.begin(), p.begin() + 30), endOfData(24) + fail},
        {"no frames", patched(p, 64, 0),
         err("APE seek info error, seekNumber=0, seekTableBytes=0, seekTableLength=16, totalFrames=0.") + fail},
        {"table longer than its room", patched(p, 64, 5),
         err("APE seek info error, seekNumber=5, seekTableBytes=20, seekTableLength=16, totalFrames=5.") + fail},
        {"entry count that wraps", patched(p, 64, 0x40000001),
         err("APE seek info error, seekNumber=1073741825, seekTableBytes=4, seekTableLength=16, "
             "totalFrames=1073741825.") +
             fail},
        {"WAV header beyond 32-bit positions", patched(p, 20, 0x90000000),
         err("Failed to seek to -1879048192 from 1, ret=0.") + fail},
        {"seek count differs", patched(testsupport::buildApe(counted).bytes, 32, 3),
         err("APE seek table length error, seekNumber=3, totalFrames=4.") + fail},
        // It opens, but the first frame's length is out of range.
        {"seek entry beyond the 32-bit range", farEntry.bytes,
         testsupport::apeOpenLines(farEntry.seekTable, 44100, 2) + err("Invalid frame length.")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        ReadAll r = readAll<ApeAudioDataReader>(c.file);
        EXPECT_EQ(c.out, r.out());
        EXPECT_EQ(c.file != farEntry.bytes, r.invalid);
        EXPECT_TRUE(r.frames.empty());
    }
}

}  // namespace
