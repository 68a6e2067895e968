// Bitwise CRCs for short frame headers; tables for the one that runs over whole frames.
#include "FieldCodec.h"

namespace {

template <typename T>
constexpr T reflectBits(T value) {
    T reflected = 0;
    for (unsigned i = 0; i < 8 * sizeof(T); ++i) {
        reflected = static_cast<T>((reflected << 1) | (value & 1));
        value = static_cast<T>(value >> 1);
    }
    return reflected;
}

// Most significant bit first; the byte enters the register's top byte.
template <typename T, T Poly, T Init, T XorOut>
T crcForward(const uint8_t* data, uint32_t length) {
    constexpr unsigned kBits = 8 * sizeof(T);
    constexpr T kTopBit = static_cast<T>(1u << (kBits - 1));
    T crc = Init;
    for (uint32_t i = 0; i < length; ++i) {
        crc = static_cast<T>(crc ^ (static_cast<unsigned>(data[i]) << (kBits - 8)));
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & kTopBit) ? static_cast<T>((crc << 1) ^ Poly) : static_cast<T>(crc << 1);
    }
    return static_cast<T>(crc ^ XorOut);
}

// Reflected in and out: the byte enters the low byte and the register shifts right.
template <typename T, T Poly, T Init, T XorOut>
T crcReflected(const uint8_t* data, uint32_t length) {
    constexpr T kPoly = reflectBits(Poly);
    T crc = Init;
    for (uint32_t i = 0; i < length; ++i) {
        crc = static_cast<T>(crc ^ data[i]);
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 1) ? static_cast<T>((crc >> 1) ^ kPoly) : static_cast<T>(crc >> 1);
    }
    return static_cast<T>(crc ^ XorOut);
}

}  // namespace

// Polynomials in normal form; the reflected routine reverses them itself.
uint8_t crc8(const uint8_t* d, uint32_t n) { return crcForward<uint8_t, 0x07, 0x00, 0x00>(d, n); }
uint8_t crc8Itu(const uint8_t* d, uint32_t n) { return crcForward<uint8_t, 0x07, 0x00, 0x55>(d, n); }
uint8_t crc8Rohc(const uint8_t* d, uint32_t n) { return crcReflected<uint8_t, 0x07, 0xFF, 0x00>(d, n); }
uint8_t crc8Maxim(const uint8_t* d, uint32_t n) { return crcReflected<uint8_t, 0x31, 0x00, 0x00>(d, n); }
uint16_t crc16Arc(const uint8_t* d, uint32_t n) { return crcReflected<uint16_t, 0x8005, 0x0000, 0x0000>(d, n); }
uint16_t crc16Maxim(const uint8_t* d, uint32_t n) { return crcReflected<uint16_t, 0x8005, 0x0000, 0xFFFF>(d, n); }
uint16_t crc16Usb(const uint8_t* d, uint32_t n) { return crcReflected<uint16_t, 0x8005, 0xFFFF, 0xFFFF>(d, n); }
uint16_t crc16Modbus(const uint8_t* d, uint32_t n) { return crcReflected<uint16_t, 0x8005, 0xFFFF, 0x0000>(d, n); }
uint16_t crc16Kermit(const uint8_t* d, uint32_t n) { return crcReflected<uint16_t, 0x1021, 0x0000, 0x0000>(d, n); }
uint16_t crc16CcittFalse(const uint8_t* d, uint32_t n) { return crcForward<uint16_t, 0x1021, 0xFFFF, 0x0000>(d, n); }
uint16_t crc16X25(const uint8_t* d, uint32_t n) { return crcReflected<uint16_t, 0x1021, 0xFFFF, 0xFFFF>(d, n); }
uint16_t crc16Xmodem(const uint8_t* d, uint32_t n) { return crcForward<uint16_t, 0x1021, 0x0000, 0x0000>(d, n); }
uint16_t crc16Dnp(const uint8_t* d, uint32_t n) { return crcReflected<uint16_t, 0x3D65, 0x0000, 0xFFFF>(d, n); }

namespace {

// Slicing by eight: entry[k][b] is what byte b followed by k zero bytes adds to the register, so
// eight bytes take eight lookups and no shifts between them.
struct Crc16Table {
    uint16_t entry[8][256];
    Crc16Table() {
        for (unsigned i = 0; i < 256; ++i) {
            const uint8_t byte = static_cast<uint8_t>(i);
            entry[0][i] = crcForward<uint16_t, 0x8005, 0x0000, 0x0000>(&byte, 1);
        }
        for (unsigned k = 1; k < 8; ++k)
            for (unsigned i = 0; i < 256; ++i)
                entry[k][i] = static_cast<uint16_t>(entry[0][entry[k - 1][i] >> 8] ^ (entry[k - 1][i] << 8));
    }
};

}  // namespace

uint16_t crc16(const uint8_t* d, uint32_t n, uint16_t crc) {
    static const Crc16Table table;
    const auto& t = table.entry;
    for (; n >= 8; n -= 8, d += 8)
        crc = static_cast<uint16_t>(t[7][d[0] ^ (crc >> 8)] ^ t[6][d[1] ^ (crc & 0xFF)] ^ t[5][d[2]] ^ t[4][d[3]] ^
                                    t[3][d[4]] ^ t[2][d[5]] ^ t[1][d[6]] ^ t[0][d[7]]);
    for (uint32_t i = 0; i < n; ++i) crc = static_cast<uint16_t>(crc << 8 ^ t[0][(crc >> 8) ^ d[i]]);
    return crc;
}
