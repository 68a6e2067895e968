// The field codec and the byte cursor against plain bit arithmetic: each step of the input picks
// a function and its width and byte order; the bytes a field covers are copied into a block of
// exactly that size, so a read or write past them is an ASan report. Round trips and the CRC
// residue property check the values.
#include <cstring>
#include <vector>

#include "AsfGuid.h"
#include "ByteCursor.h"
#include "FieldCodec.h"

namespace {

struct Input {
    const uint8_t* p;
    size_t n;
    bool empty() const { return n == 0; }
    uint8_t byte() {
        if (n == 0) return 0;
        --n;
        return *p++;
    }
    uint32_t u32() { return uint32_t(byte()) << 24 | uint32_t(byte()) << 16 | uint32_t(byte()) << 8 | byte(); }
    std::vector<uint8_t> bytes(size_t count) {
        std::vector<uint8_t> b(count, 0);
        for (uint8_t& x : b) x = byte();
        return b;
    }
};

void check(bool ok) {
    if (!ok) __builtin_trap();
}

uint32_t lowBits(uint32_t v, unsigned width) { return width >= 32 ? v : v & ((1u << width) - 1); }

// Bytes a bit field of `width` touches when `bitsLeft` bits of the first one are unread.
size_t bitFieldSpan(unsigned width, unsigned bitsLeft) {
    return width <= bitsLeft ? 1 : 1 + (width - bitsLeft + 7) / 8;
}

uint32_t bitsAt(const std::vector<uint8_t>& b, size_t firstBit, unsigned width) {
    uint32_t v = 0;
    for (unsigned i = 0; i < width; ++i) {
        size_t bit = firstBit + i;
        v = v << 1 | ((b[bit / 8] >> (7 - bit % 8)) & 1);
    }
    return v;
}

void bitField(Input& in, uint8_t& bitsLeft) {
    const uint8_t width = uint8_t(1 + in.byte() % 32);
    const size_t span = bitFieldSpan(width, bitsLeft);
    std::vector<uint8_t> block = in.bytes(span);
    const size_t firstBit = 8 - bitsLeft;
    uint8_t* raw = new uint8_t[span];
    memcpy(raw, block.data(), span);

    const uint8_t* cursor = raw;
    uint8_t left = bitsLeft;
    const uint32_t value = readBitField(cursor, width, left);
    check(value == bitsAt(block, firstBit, width));
    const size_t endBit = firstBit + width;
    check(size_t(cursor - raw) == endBit / 8 && left == 8 - endBit % 8);

    // Written into zeroed bytes at the same place, the field reads back as it was.
    memset(raw, 0, span);
    uint8_t* out = raw;
    uint8_t outLeft = bitsLeft;
    writeBitField(out, width, value | (in.byte() & 1 ? ~lowBits(~0u, width) : 0), outLeft);
    check(static_cast<const uint8_t*>(out) == cursor && outLeft == left);
    check(bitsAt(std::vector<uint8_t>(raw, raw + span), firstBit, width) == value);
    delete[] raw;
    bitsLeft = left;
}

void byteField(Input& in) {
    const uint8_t op = in.byte();
    const int32_t order = (op & 0x30) == 0x30 ? int32_t(in.u32()) : (op >> 4) & 1;
    const bool write = op & 0x80;
    const uint8_t width = uint8_t(write ? op % 5 : op % 9);
    std::vector<uint8_t> block = in.bytes(width);
    uint8_t* raw = new uint8_t[width];
    if (width > 0) memcpy(raw, block.data(), width);

    uint32_t expected = 0;
    if (order == AST_BIG_ENDIAN)
        for (uint8_t i = 0; i < width; ++i) expected = expected << 8 | block[i];
    else
        for (uint8_t i = 0; i < width && i < 4; ++i) expected |= uint32_t(block[i]) << (8 * i);
    const uint8_t* cursor = raw;
    check(readByteField(cursor, width, order) == expected && cursor == raw + width);

    if (write) {
        const uint32_t value = in.u32();
        uint8_t* out = raw;
        writeByteField(out, width, value, order);
        check(out == raw + width);
        cursor = raw;
        check(readByteField(cursor, width, order) == lowBits(value, 8u * width));
    }
    delete[] raw;
}

void crcs(Input& in) {
    // No longer than what is left: bitwise CRCs over padding only slow the fuzzer down.
    size_t length = in.byte() | size_t(in.byte()) << 8;
    if (length > in.n) length = in.n;
    std::vector<uint8_t> data = in.bytes(length);
    // Two spare bytes for the appended CRC, past the block the functions are given.
    uint8_t* raw = new uint8_t[length + 2];
    if (length > 0) memcpy(raw, data.data(), length);
    const uint32_t n = uint32_t(length);

    // Non-reflected without a final XOR, and reflected without one: appending the CRC
    // (most significant byte first, respectively least) leaves a residue of zero.
    raw[length] = crc8(raw, n);
    check(crc8(raw, n + 1) == 0);
    uint16_t x = crc16Xmodem(raw, n);
    raw[length] = uint8_t(x >> 8);
    raw[length + 1] = uint8_t(x);
    check(crc16Xmodem(raw, n + 2) == 0);
    uint16_t a = crc16Arc(raw, n);
    raw[length] = uint8_t(a);
    raw[length + 1] = uint8_t(a >> 8);
    check(crc16Arc(raw, n + 2) == 0);
    // The final XOR variants differ from their base by exactly that XOR.
    check(crc8Itu(raw, n) == (crc8(raw, n) ^ 0x55));
    check(crc16Maxim(raw, n) == uint16_t(~crc16Arc(raw, n)));
    check(crc16Usb(raw, n) == uint16_t(~crc16Modbus(raw, n)));
    volatile uint32_t sink = crc8Rohc(raw, n) ^ crc8Maxim(raw, n) ^ crc16Kermit(raw, n) ^ crc16CcittFalse(raw, n) ^
                             crc16X25(raw, n) ^ crc16Dnp(raw, n);
    (void)sink;
    delete[] raw;
}

void guid(Input& in) {
    std::vector<uint8_t> bytes = in.bytes(16);
    // Half the time a known GUID with one byte changed, or none.
    if (in.byte() & 1) {
        const uint8_t row = in.byte() % ASF_GUID_COUNT;
        memcpy(bytes.data(), asfGuidTable[row] + 1, 16);
        bytes[in.byte() % 16] ^= in.byte();
    }
    uint8_t* raw = new uint8_t[16];
    memcpy(raw, bytes.data(), 16);
    const uint8_t* cursor = raw;
    const uint32_t row = findGuid(cursor);
    check(cursor == raw + 16 && row <= ASF_GUID_NOT_FOUND);
    for (uint32_t r = 0; r < row && r < ASF_GUID_COUNT; ++r) check(memcmp(asfGuidTable[r] + 1, raw, 16) != 0);
    if (row < ASF_GUID_COUNT) check(asfGuidTable[row][0] == row && memcmp(asfGuidTable[row] + 1, raw, 16) == 0);
    delete[] raw;
}

// The bounded cursor against a model of its position in bits: a block of exactly its size, so a
// read past it is an ASan report, and a walk of input-chosen steps, some of them past the end.
void cursorWalk(Input& in) {
    const size_t size = in.byte() % 48;
    std::vector<uint8_t> block = in.bytes(size);
    uint8_t* raw = new uint8_t[size + 1];
    if (size > 0) memcpy(raw, block.data(), size);
    ByteCursor c(raw, size);
    size_t bit = 0;
    bool failed = false;
    const auto fail = [&] { failed = true, bit = 8 * size; };
    for (unsigned steps = in.byte() % 16; steps > 0; --steps) {
        const uint8_t op = in.byte();
        const unsigned n = in.byte() % 56;
        const size_t start = bit / 8;  // byte fields start at the byte the bit position is in
        switch (op % 5) {
        case 0: {
            const unsigned width = n % 33;
            const uint32_t value = c.bits(width);
            if (bit + width <= 8 * size) {
                check(value == bitsAt(block, bit, width));
                bit += width;
            } else {
                check(value == 0);
                fail();
            }
            break;
        }
        case 1: {
            const unsigned width = n % 9;
            const bool big = op & 0x80;
            const uint32_t value = big ? c.be(width) : c.le(width);
            if (width == 0) {
                check(value == 0);
            } else if (start + width <= size) {
                uint32_t expected = 0;
                for (unsigned i = 0; i < width; ++i)
                    expected = big ? expected << 8 | block[start + i]
                                   : expected | (i < 4 ? uint32_t(block[start + i]) << (8 * i) : 0);
                check(value == expected);
                bit = 8 * (start + width);
            } else {
                check(value == 0);
                fail();
            }
            break;
        }
        case 2: {
            const bool moved = op & 0x80 ? c.skip(n) : c.take(n) != nullptr;
            check(moved == (start + n <= size));
            if (moved)
                bit = 8 * (start + n);
            else
                fail();
            break;
        }
        case 3: {
            ByteCursor part = c.sub(n);
            check(part.size() == (start + n <= size ? n : size - start) && part.ok() == (start + n <= size));
            if (part.size() > 0) check(memcmp(part.data(), raw + start, part.size()) == 0);
            if (start + n <= size)
                bit = 8 * (start + n);
            else
                fail();
            break;
        }
        default:
            check(c.seek(n) == (n <= size));
            if (n <= size)
                bit = 8 * n;
            else
                fail();
            break;
        }
        check(c.ok() == !failed && c.position() == bit / 8 && c.remaining() == size - bit / 8);
    }
    delete[] raw;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Input in{data, size};
    uint8_t bitsLeft = 8;
    while (!in.empty()) {
        switch (in.byte() % 5) {
        case 0: bitField(in, bitsLeft); break;
        case 1: byteField(in); break;
        case 2: crcs(in); break;
        case 3: cursorWalk(in); break;
        default: guid(in); break;
        }
    }
    return 0;
}
