// The ASF object and stream-type GUIDs, as they stand in a file, and their lookup.
#pragma once

#include <cstdint>

class ByteCursor;

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
uint32_t findGuid(const uint8_t*& cursor);
// Row of the 16-byte GUID at the cursor, moved over; ASF_GUID_NOT_FOUND when fewer bytes are left.
uint32_t readGuid(ByteCursor& cursor);
