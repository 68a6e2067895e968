#include "FieldCodec.h"

namespace {

// Entry n-1 keeps the low n bits of a byte.
constexpr uint32_t kLowBits[8] = {0x1, 0x3, 0x7, 0xF, 0x1F, 0x3F, 0x7F, 0xFF};

}  // namespace

uint32_t readBitField(const uint8_t*& cursor, uint8_t width, uint8_t& bitsLeft) {
    uint32_t value = 0;
    uint8_t wanted = width;
    while (bitsLeft < wanted) {
        value |= (*cursor & kLowBits[bitsLeft - 1]) << (wanted - bitsLeft);
        wanted = static_cast<uint8_t>(wanted - bitsLeft);
        ++cursor;
        bitsLeft = 8;
    }
    bitsLeft = static_cast<uint8_t>(bitsLeft - wanted);
    value |= (static_cast<uint32_t>(*cursor) >> bitsLeft) & kLowBits[wanted - 1];
    // Step off a used-up byte at once, so a byte field can follow an aligned run.
    if (bitsLeft == 0) {
        ++cursor;
        bitsLeft = 8;
    }
    return value;
}

void writeBitField(uint8_t*& cursor, uint8_t width, uint32_t value, uint8_t& bitsLeft) {
    uint8_t pending = width;
    while (bitsLeft < pending) {
        *cursor |= static_cast<uint8_t>((value >> (pending - bitsLeft)) & kLowBits[bitsLeft - 1]);
        pending = static_cast<uint8_t>(pending - bitsLeft);
        ++cursor;
        bitsLeft = 8;
    }
    bitsLeft = static_cast<uint8_t>(bitsLeft - pending);
    *cursor |= static_cast<uint8_t>((value & kLowBits[pending - 1]) << bitsLeft);
    if (bitsLeft == 0) {
        ++cursor;
        bitsLeft = 8;
    }
}

uint32_t readByteField(const uint8_t*& cursor, uint8_t width, int32_t byteOrder) {
    uint32_t value = 0;
    if (byteOrder == AST_BIG_ENDIAN) {
        // Bytes beyond the fourth push the high ones out: the low 32 bits remain.
        for (uint8_t i = 0; i < width; ++i) value = (value << 8) | cursor[i];
    } else {
        const uint8_t kept = width < 4 ? width : 4;
        for (uint8_t i = 0; i < kept; ++i) value |= static_cast<uint32_t>(cursor[i]) << (8 * i);
    }
    cursor += width;
    return value;
}

void writeByteField(uint8_t*& cursor, uint8_t width, uint32_t value, int32_t byteOrder) {
    for (uint8_t i = 0; i < width; ++i) {
        const unsigned shift = byteOrder == AST_BIG_ENDIAN ? 8u * (width - 1u - i) : 8u * i;
        cursor[i] = static_cast<uint8_t>((value >> shift) & 0xFF);
    }
    cursor += width;
}
