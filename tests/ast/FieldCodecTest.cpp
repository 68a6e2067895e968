#include "FieldCodec.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <set>
#include <vector>

namespace {

struct BitRead {
    std::vector<uint8_t> bytes;
    uint8_t bitsLeft, width;
    uint32_t expected;
    long advance;
    uint8_t bitsLeftAfter;
};

TEST(BitField, ReadsAcrossByteBoundaries)
{
    const BitRead cases[] = {
        {{0xA5}, 8, 8, 0xA5, 1, 8},                                  // whole byte steps on
        {{0x12, 0x34, 0x56, 0x78}, 8, 32, 0x12345678, 4, 8},         // aligned 32 bits, big-endian
        {{0x05, 0xC0}, 3, 5, 0x17, 1, 6},                            // 101 then 11
        {{0x01, 0x00, 0x00, 0x00, 0x7F}, 1, 32, 0x8000003F, 4, 1},   // 32 bits over five bytes
        {{0x01}, 1, 1, 1, 1, 8},                                     // last bit of a byte
        {{0xF0}, 8, 3, 0x7, 0, 5},                                   // stays on a partly read byte
    };
    for (const BitRead& c : cases) {
        const uint8_t* cursor = c.bytes.data();
        uint8_t bitsLeft = c.bitsLeft;
        EXPECT_EQ(readBitField(cursor, c.width, bitsLeft, "field", 0), c.expected) << int(c.width);
        EXPECT_EQ(cursor - c.bytes.data(), c.advance) << int(c.width);
        EXPECT_EQ(bitsLeft, c.bitsLeftAfter) << int(c.width);
    }
}

TEST(BitField, WritesMostSignificantBitFirstAndOnlyOrs)
{
    uint8_t buf[3] = {};
    uint8_t* cursor = buf;
    uint8_t bitsLeft = 8;
    writeBitField(cursor, 3, 0xFD, bitsLeft, "a"); // bits above the width are dropped
    writeBitField(cursor, 5, 0x1F, bitsLeft, "b");
    writeBitField(cursor, 8, 0xAB, bitsLeft, "c");
    EXPECT_EQ(buf[0], 0xBF);
    EXPECT_EQ(buf[1], 0xAB);
    EXPECT_EQ(cursor, buf + 2);
    EXPECT_EQ(bitsLeft, 8);

    uint8_t* again = buf; // bits already set stay set
    writeBitField(again, 8, 0x00, bitsLeft, "d");
    EXPECT_EQ(buf[0], 0xBF);
}

TEST(BitField, RandomWidthsRoundTrip)
{
    std::mt19937 rng(20240611);
    for (int run = 0; run < 50; ++run) {
        std::vector<std::pair<uint8_t, uint32_t>> fields(40);
        for (auto& f : fields) {
            f.first = static_cast<uint8_t>(1 + rng() % 32);
            f.second = static_cast<uint32_t>(rng());
        }
        std::vector<uint8_t> buf(40 * 4 + 1, 0);
        uint8_t* out = buf.data();
        uint8_t outBits = 8;
        for (const auto& f : fields)
            writeBitField(out, f.first, f.second, outBits, "f");

        const uint8_t* in = buf.data();
        uint8_t inBits = 8;
        for (const auto& f : fields) {
            const uint32_t mask = f.first == 32 ? 0xFFFFFFFFu : (1u << f.first) - 1;
            ASSERT_EQ(readBitField(in, f.first, inBits, "f", 0), f.second & mask) << int(f.first);
        }
        EXPECT_EQ(in, out);
        EXPECT_EQ(inBits, outBits);
    }
}

struct ByteRead {
    std::vector<uint8_t> bytes;
    uint8_t width;
    int32_t order;
    uint32_t expected;
};

TEST(ByteField, ReadsBothOrders)
{
    const std::vector<uint8_t> four = {0x01, 0x02, 0x03, 0x04};
    const std::vector<uint8_t> eight = {0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88};
    const ByteRead cases[] = {
        {four, 4, AST_BIG_ENDIAN, 0x01020304},
        {four, 4, AST_LITTLE_ENDIAN, 0x04030201},
        {four, 2, AST_LITTLE_ENDIAN, 0x0201},
        {four, 4, 7, 0x04030201}, // anything but big-endian reads little-endian
        {four, 0, AST_BIG_ENDIAN, 0},
        {eight, 8, AST_LITTLE_ENDIAN, 0x44332211},
        {eight, 8, AST_BIG_ENDIAN, 0x55667788},
        {eight, 5, AST_LITTLE_ENDIAN, 0x44332211},
        {eight, 5, AST_BIG_ENDIAN, 0x22334455},
    };
    for (const ByteRead& c : cases) {
        const uint8_t* cursor = c.bytes.data();
        EXPECT_EQ(readByteField(cursor, c.width, c.order, "field", 0), c.expected)
            << int(c.width) << " order " << c.order;
        EXPECT_EQ(cursor, c.bytes.data() + c.width);
    }
}

TEST(ByteField, WritesBothOrders)
{
    uint8_t buf[6];
    std::memset(buf, 0xEE, sizeof buf);
    uint8_t* cursor = buf;
    writeByteField(cursor, 0, 0x12345678, AST_BIG_ENDIAN, "none", 0);
    EXPECT_EQ(cursor, buf);
    EXPECT_EQ(buf[0], 0xEE);

    writeByteField(cursor, 4, 0x52494646, AST_BIG_ENDIAN, "riff", 1);
    writeByteField(cursor, 2, 0x12345678, AST_BIG_ENDIAN, "low", 0);
    EXPECT_EQ(std::memcmp(buf, "RIFF\x56\x78", 6), 0);
    EXPECT_EQ(cursor, buf + 6);

    cursor = buf;
    writeByteField(cursor, 4, 0x52494646, AST_LITTLE_ENDIAN, "riff", 1);
    writeByteField(cursor, 2, 0x12345678, AST_LITTLE_ENDIAN, "low", 0);
    EXPECT_EQ(std::memcmp(buf, "FFIR\x78\x56", 6), 0);
}

TEST(AsfGuid, RowsTheReaderLooksUpHoldFileByteOrder)
{
    const struct {
        uint32_t row;
        const char* bytes;
    } known[] = {
        {ASF_GUID_HEADER_OBJECT, "\x30\x26\xB2\x75\x8E\x66\xCF\x11\xA6\xD9\x00\xAA\x00\x62\xCE\x6C"},
        {ASF_GUID_DATA_OBJECT, "\x36\x26\xB2\x75\x8E\x66\xCF\x11\xA6\xD9\x00\xAA\x00\x62\xCE\x6C"},
        {ASF_GUID_STREAM_PROPERTIES_OBJECT, "\x91\x07\xDC\xB7\xB7\xA9\xCF\x11\x8E\xE6\x00\xC0\x0C\x20\x53\x65"},
        {ASF_GUID_AUDIO_MEDIA, "\x40\x9E\x69\xF8\x4D\x5B\xCF\x11\xA8\xFD\x00\x80\x5F\x5C\x44\x2B"},
    };
    for (const auto& k : known)
        EXPECT_EQ(std::memcmp(asfGuidTable[k.row] + 1, k.bytes, 16), 0) << k.row;
}

TEST(AsfGuid, EveryRowIsFoundAtItsOwnIndexAndIsUnique)
{
    std::set<std::vector<uint8_t>> seen;
    for (uint32_t row = 0; row < ASF_GUID_COUNT; ++row) {
        EXPECT_EQ(asfGuidTable[row][0], row);
        const uint8_t* cursor = asfGuidTable[row] + 1;
        EXPECT_EQ(findGuid(cursor, "guid"), row);
        EXPECT_EQ(cursor, asfGuidTable[row] + 17);
        seen.insert(std::vector<uint8_t>(asfGuidTable[row] + 1, asfGuidTable[row] + 17));
    }
    EXPECT_EQ(seen.size(), size_t{ASF_GUID_COUNT});
}

TEST(AsfGuid, UnknownGuidStillMovesTheCursor)
{
    // Header Object GUID with its last byte changed: a near miss must not match.
    uint8_t bytes[16];
    std::memcpy(bytes, asfGuidTable[ASF_GUID_HEADER_OBJECT] + 1, 16);
    bytes[15] ^= 0x01;
    const uint8_t* cursor = bytes;
    EXPECT_EQ(findGuid(cursor, "guid"), uint32_t{ASF_GUID_NOT_FOUND});
    EXPECT_EQ(cursor, bytes + 16);
}

} // namespace
