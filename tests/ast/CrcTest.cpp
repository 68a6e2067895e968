#include "FieldCodec.h"

#include <gtest/gtest.h>

namespace {

template <auto Crc>
uint32_t widened(const uint8_t* data, uint32_t length) {
    return Crc(data, length);
}

struct CrcCase {
    const char* name;
    uint32_t (*crc)(const uint8_t*, uint32_t);
    uint32_t check;  // over the ASCII digits 1 to 9
    uint32_t empty;  // initial value XOR final XOR
};

const CrcCase kCases[] = {
    {"crc8", widened<crc8>, 0xF4, 0x00},
    {"crc8Itu", widened<crc8Itu>, 0xA1, 0x55},
    {"crc8Rohc", widened<crc8Rohc>, 0xD0, 0xFF},
    {"crc8Maxim", widened<crc8Maxim>, 0xA1, 0x00},
    // In two runs, the second going on from the first over eight bytes at once and one more.
    {"crc16", [](const uint8_t* d, uint32_t n) -> uint32_t { return crc16(d + (n > 0), n - (n > 0), crc16(d, n > 0)); },
     0xFEE8, 0x0000},
    {"crc16Arc", widened<crc16Arc>, 0xBB3D, 0x0000},
    {"crc16Maxim", widened<crc16Maxim>, 0x44C2, 0xFFFF},
    {"crc16Usb", widened<crc16Usb>, 0xB4C8, 0x0000},
    {"crc16Modbus", widened<crc16Modbus>, 0x4B37, 0xFFFF},
    {"crc16Kermit", widened<crc16Kermit>, 0x2189, 0x0000},
    {"crc16CcittFalse", widened<crc16CcittFalse>, 0x29B1, 0xFFFF},
    {"crc16X25", widened<crc16X25>, 0x906E, 0x0000},
    {"crc16Xmodem", widened<crc16Xmodem>, 0x31C3, 0x0000},
    {"crc16Dnp", widened<crc16Dnp>, 0xEA82, 0xFFFF},
};

TEST(Crc, CheckValuesAndEmptyInput) {
    // The trailing byte lies outside the length and must not be read into the CRC.
    const uint8_t digits[] = {'1', '2', '3', '4', '5', '6', '7', '8', '9', 0xFF};
    for (const CrcCase& c : kCases) {
        EXPECT_EQ(c.crc(digits, 9), c.check) << c.name;
        EXPECT_EQ(c.crc(digits, 0), c.empty) << c.name;
    }
}

}  // namespace
