// Bit and byte fields over a caller-owned cursor, and the CRC family.
// The caller guarantees that the bytes a field covers are there.
#pragma once

#include <cstdint>

enum : int32_t { AST_LITTLE_ENDIAN = 0, AST_BIG_ENDIAN = 1 };

uint32_t readBitField(const uint8_t*& cursor, uint8_t width, uint8_t& bitsLeft);
void writeBitField(uint8_t*& cursor, uint8_t width, uint32_t value, uint8_t& bitsLeft);
uint32_t readByteField(const uint8_t*& cursor, uint8_t width, int32_t byteOrder);
void writeByteField(uint8_t*& cursor, uint8_t width, uint32_t value, int32_t byteOrder);

uint8_t crc8(const uint8_t* data, uint32_t length);
uint8_t crc8Itu(const uint8_t* data, uint32_t length);
uint8_t crc8Rohc(const uint8_t* data, uint32_t length);
uint8_t crc8Maxim(const uint8_t* data, uint32_t length);
// Polynomial 0x8005 most significant bit first, from `crc` on: run on over more data by passing
// the value of the bytes before it. Over a block followed by its own CRC, big-endian, it gives 0.
uint16_t crc16(const uint8_t* data, uint32_t length, uint16_t crc = 0);
uint16_t crc16Arc(const uint8_t* data, uint32_t length);
uint16_t crc16Maxim(const uint8_t* data, uint32_t length);
uint16_t crc16Usb(const uint8_t* data, uint32_t length);
uint16_t crc16Modbus(const uint8_t* data, uint32_t length);
uint16_t crc16Kermit(const uint8_t* data, uint32_t length);
uint16_t crc16CcittFalse(const uint8_t* data, uint32_t length);
uint16_t crc16X25(const uint8_t* data, uint32_t length);
uint16_t crc16Xmodem(const uint8_t* data, uint32_t length);
uint16_t crc16Dnp(const uint8_t* data, uint32_t length);
