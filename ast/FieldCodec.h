// Bit and byte fields over a caller-owned cursor, the CRC family, and the ASF GUID lookup.
// The caller guarantees that the bytes a field covers are there.
#pragma once

#include <cstdint>

enum : int32_t { AST_LITTLE_ENDIAN = 0, AST_BIG_ENDIAN = 1 };

uint32_t readBitField(const uint8_t*& cursor, uint8_t width, uint8_t& bitsLeft, const char* name, int flag);
void writeBitField(uint8_t*& cursor, uint8_t width, uint32_t value, uint8_t& bitsLeft, const char* name);
uint32_t readByteField(const uint8_t*& cursor, uint8_t width, int32_t byteOrder, const char* name, int flag);
void writeByteField(uint8_t*& cursor, uint8_t width, uint32_t value, int32_t byteOrder, const char* name, int flag);

uint8_t crc8(const uint8_t* data, uint32_t length);
uint8_t crc8Itu(const uint8_t* data, uint32_t length);
uint8_t crc8Rohc(const uint8_t* data, uint32_t length);
uint8_t crc8Maxim(const uint8_t* data, uint32_t length);
uint16_t crc16Arc(const uint8_t* data, uint32_t length);
uint16_t crc16Maxim(const uint8_t* data, uint32_t length);
uint16_t crc16Usb(const uint8_t* data, uint32_t length);
uint16_t crc16Modbus(const uint8_t* data, uint32_t length);
uint16_t crc16Kermit(const uint8_t* data, uint32_t length);
uint16_t crc16CcittFalse(const uint8_t* data, uint32_t length);
uint16_t crc16X25(const uint8_t* data, uint32_t length);
uint16_t crc16Xmodem(const uint8_t* data, uint32_t length);
uint16_t crc16Dnp(const uint8_t* data, uint32_t length);

enum : uint32_t {
    ASF_GUID_HEADER_OBJECT = 0,
    ASF_GUID_DATA_OBJECT = 1,
    ASF_GUID_STREAM_PROPERTIES_OBJECT = 7,
    ASF_GUID_AUDIO_MEDIA = 35,
    ASF_GUID_COUNT = 62,
    ASF_GUID_NOT_FOUND = 62,
};

// Each row: its own row number, then the 16 GUID bytes as they stand in an ASF file.
extern const uint8_t asfGuidTable[ASF_GUID_COUNT][17];

// Row of the GUID at the cursor, or ASF_GUID_NOT_FOUND; the cursor always moves 16 bytes.
uint32_t findGuid(const uint8_t*& cursor, const char* name);
