#include "AsfGuid.h"
#include "ByteCursor.h"
#include "FieldCodec.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <random>
#include <vector>

namespace {

struct BitRead {
    std::vector<uint8_t> bytes;
    uint8_t bitsLeft, width;
    uint32_t expected;
    long advance;
    uint8_t bitsLeftAfter;
};

TEST(BitField, ReadsAcrossByteBoundaries) {
    const BitRead cases[] = {
        {{0xA5}, 8, 8, 0xA5, 1, 8},                                 // whole byte steps on
        {{0x12, 0x34, 0x56, 0x78}, 8, 32, 0x12345678, 4, 8},        // aligned 32 bits, big-endian
        {{0x05, 0xC0}, 3, 5, 0x17, 1, 6},                           // 101 then 11
        {{0x01, 0x00, 0x00, 0x00, 0x7F}, 1, 32, 0x8000003F, 4, 1},  // 32 bits over five bytes
        {{0xF0}, 8, 3, 0x7, 0, 5},                                  // stays on a partly read byte
    };
    for (const BitRead& c : cases) {
        const uint8_t* cursor = c.bytes.data();
        uint8_t bitsLeft = c.bitsLeft;
        EXPECT_EQ(readBitField(cursor, c.width, bitsLeft), c.expected) << int(c.width);
        EXPECT_EQ(cursor - c.bytes.data(), c.advance) << int(c.width);
        EXPECT_EQ(bitsLeft, c.bitsLeftAfter) << int(c.width);
    }
}

// The reads are checked bit by bit above, so a round trip checks every bit written, and that
// bits above the width are dropped.
TEST(BitField, RandomWidthsRoundTrip) {
    std::mt19937 rng(20240611);
    for (int run = 0; run < 50; ++run) {
        std::vector<std::pair<uint8_t, uint32_t>> fields(40);
        std::vector<uint8_t> buf(40 * 4 + 1, 0);
        uint8_t* out = buf.data();
        uint8_t outBits = 8;
        for (auto& f : fields) {
            f = {static_cast<uint8_t>(1 + rng() % 32), static_cast<uint32_t>(rng())};
            writeBitField(out, f.first, f.second, outBits);
        }
        const uint8_t* in = buf.data();
        uint8_t inBits = 8;
        for (const auto& f : fields) {
            const uint32_t low = f.first == 32 ? f.second : f.second & ((1u << f.first) - 1);
            ASSERT_EQ(readBitField(in, f.first, inBits), low) << int(f.first);
        }
        EXPECT_EQ(in, out);
        EXPECT_EQ(inBits, outBits);
    }
}

struct ByteField {
    std::vector<uint8_t> bytes;
    uint8_t width;
    int32_t order;
    uint32_t value;
};

// Reads the bytes, and for widths up to 4 writes the value back (with bits above the width
// set, which must be dropped) over a canary.
TEST(ByteField, ReadsAndWritesBothOrders) {
    const std::vector<uint8_t> eight = {0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88};
    const ByteField cases[] = {
        {{'R', 'I', 'F', 'F'}, 4, AST_BIG_ENDIAN, 0x52494646},
        {{0x01, 0x02, 0x03, 0x04}, 4, 7, 0x04030201},  // anything but big-endian is little-endian
        {{0x01, 0x02}, 2, AST_LITTLE_ENDIAN, 0x0201},
        {{0x01, 0x02}, 2, AST_BIG_ENDIAN, 0x0102},
        {{}, 0, AST_BIG_ENDIAN, 0},
        {eight, 8, AST_LITTLE_ENDIAN, 0x44332211},  // bytes 5 to 8 skipped
        {eight, 8, AST_BIG_ENDIAN, 0x55667788},     // the low 32 bits
    };
    for (const ByteField& c : cases) {
        const uint8_t* in = c.bytes.data();
        EXPECT_EQ(readByteField(in, c.width, c.order), c.value) << int(c.width) << " order " << c.order;
        EXPECT_EQ(in, c.bytes.data() + c.width);
        if (c.width > 4) continue;
        uint8_t buf[5] = {0xEE, 0xEE, 0xEE, 0xEE, 0xEE};
        uint8_t* out = buf;
        writeByteField(out, c.width, c.value | (c.width < 4 ? ~0u << (8 * c.width) : 0), c.order);
        EXPECT_EQ(std::vector<uint8_t>(buf, buf + c.width), c.bytes) << int(c.width) << " order " << c.order;
        EXPECT_EQ(out, buf + c.width);
        EXPECT_EQ(buf[c.width], 0xEE);
    }
}

// Every row is found at its own index, so no row repeats an earlier one; a near miss of a row
// is not found, and the cursor moves on 16 bytes either way.
TEST(AsfGuid, FindsEachRowAndSkipsUnknownGuids) {
    for (uint32_t row = 0; row < ASF_GUID_COUNT; ++row) {
        EXPECT_EQ(asfGuidTable[row][0], row);
        const uint8_t* cursor = asfGuidTable[row] + 1;
        EXPECT_EQ(findGuid(cursor), row);
        EXPECT_EQ(cursor, asfGuidTable[row] + 17);
    }

    uint8_t nearMiss[16];
    std::memcpy(nearMiss, asfGuidTable[ASF_GUID_HEADER_OBJECT] + 1, 16);
    nearMiss[15] ^= 0x01;
    const uint8_t* cursor = nearMiss;
    EXPECT_EQ(findGuid(cursor), uint32_t{ASF_GUID_NOT_FOUND});
    EXPECT_EQ(cursor, nearMiss + 16);
}

// One walk over six bytes: each step's value, the position after it and whether the cursor is
// still good. Reads past the end give 0, stop at the end and stay failed after a seek back.
TEST(ByteCursor, WalksFieldsAndFailsAtTheEnd) {
    const uint8_t bytes[] = {0xA5, 0x0F, 0x12, 0x34, 0x56, 0x78};
    ByteCursor c(bytes, sizeof(bytes));
    const struct {
        const char* step;
        std::function<uint32_t()> run;
        uint32_t value;
        size_t position;
        bool ok;
    } steps[] = {
        {"4 bits", [&] { return c.bits(4); }, 0xA, 0, true},
        {"12 bits across a byte", [&] { return c.bits(12); }, 0x50F, 2, true},
        {"3 bits", [&] { return c.bits(3); }, 0x0, 2, true},
        {"byte field from the byte the bits are in", [&] { return c.be(2); }, 0x1234, 4, true},
        {"little-endian", [&] { return c.le(2); }, 0x7856, 6, true},
        {"nothing left", [&] { return c.le(1); }, 0, 6, false},
        {"seek back keeps the failure", [&] { return uint32_t(c.seek(1)); }, 1, 1, false},
        {"a part of two bytes",
         [&] {
             ByteCursor part = c.sub(2);
             return part.be(2) | uint32_t(part.ok()) << 16;
         },
         0x10F12, 3, false},
        {"a skip past the end", [&] { return uint32_t(c.skip(4)); }, 0, 6, false},
    };
    for (const auto& s : steps) {
        EXPECT_EQ(s.run(), s.value) << s.step;
        EXPECT_EQ(c.position(), s.position) << s.step;
        EXPECT_EQ(c.ok(), s.ok) << s.step;
    }
}

}  // namespace
