// The GUIDs are written in their usual text form and turned into file byte order at compile
// time: the first three fields are stored little-endian, the last eight bytes as written.
#include "AsfGuid.h"

#include "ByteCursor.h"

#include <cstddef>

namespace {

// Not constexpr: reaching it during constant evaluation makes a malformed GUID a compile error.
uint8_t malformedGuid() { return 0; }

constexpr uint8_t hexValue(char c) {
    return c >= '0' && c <= '9'   ? static_cast<uint8_t>(c - '0')
           : c >= 'A' && c <= 'F' ? static_cast<uint8_t>(c - 'A' + 10)
           : c >= 'a' && c <= 'f' ? static_cast<uint8_t>(c - 'a' + 10)
                                  : malformedGuid();
}

// Text position of each file byte's two hex digits.
constexpr std::size_t kDigitPos[16] = {6, 4, 2, 0, 11, 9, 16, 14, 19, 21, 24, 26, 28, 30, 32, 34};

template <std::size_t N>
constexpr uint8_t guidByte(const char (&text)[N], std::size_t i) {
    static_assert(N == 37, "GUID text is 8-4-4-4-12 hex digits");
    if (text[8] != '-' || text[13] != '-' || text[18] != '-' || text[23] != '-') return malformedGuid();
    return static_cast<uint8_t>(hexValue(text[kDigitPos[i]]) << 4 | hexValue(text[kDigitPos[i] + 1]));
}

}  // namespace

#define ASF_GUID_ROW(row, text)                                                                                 \
    {                                                                                                           \
        row, guidByte(text, 0), guidByte(text, 1), guidByte(text, 2), guidByte(text, 3), guidByte(text, 4),     \
            guidByte(text, 5), guidByte(text, 6), guidByte(text, 7), guidByte(text, 8), guidByte(text, 9),      \
            guidByte(text, 10), guidByte(text, 11), guidByte(text, 12), guidByte(text, 13), guidByte(text, 14), \
            guidByte(text, 15)                                                                                  \
    }

constexpr uint8_t asfGuidTable[ASF_GUID_COUNT][17] = {
    // Top-level objects
    ASF_GUID_ROW(0, "75B22630-668E-11CF-A6D9-00AA0062CE6C"),  // Header Object
    ASF_GUID_ROW(1, "75B22636-668E-11CF-A6D9-00AA0062CE6C"),  // Data Object
    ASF_GUID_ROW(2, "33000890-E5B1-11CF-89F4-00A0C90349CB"),  // Simple Index Object
    ASF_GUID_ROW(3, "D6E229D3-35DA-11D1-9034-00A0C90349BE"),  // Index Object
    ASF_GUID_ROW(4, "FEB103F8-12AD-4C64-840F-2A1D2F7AD48C"),  // Media Object Index Object
    ASF_GUID_ROW(5, "3CB73FD0-0C4A-4803-953D-EDF7B6228F0C"),  // Timecode Index Object
    // Header objects
    ASF_GUID_ROW(6, "8CABDCA1-A947-11CF-8EE4-00C00C205365"),   // File Properties Object
    ASF_GUID_ROW(7, "B7DC0791-A9B7-11CF-8EE6-00C00C205365"),   // Stream Properties Object
    ASF_GUID_ROW(8, "5FBF03B5-A92E-11CF-8EE3-00C00C205365"),   // Header Extension Object
    ASF_GUID_ROW(9, "86D15240-311D-11D0-A3A4-00A0C90348F6"),   // Codec List Object
    ASF_GUID_ROW(10, "1EFB1A30-0B62-11D0-A39B-00A0C90348F6"),  // Script Command Object
    ASF_GUID_ROW(11, "F487CD01-A951-11CF-8EE6-00C00C205365"),  // Marker Object
    ASF_GUID_ROW(12, "D6E229DC-35DA-11D1-9034-00A0C90349BE"),  // Bitrate Mutual Exclusion Object
    ASF_GUID_ROW(13, "75B22635-668E-11CF-A6D9-00AA0062CE6C"),  // Error Correction Object
    ASF_GUID_ROW(14, "75B22633-668E-11CF-A6D9-00AA0062CE6C"),  // Content Description Object
    ASF_GUID_ROW(15, "D2D0A440-E307-11D2-97F0-00A0C95EA850"),  // Extended Content Description Object
    ASF_GUID_ROW(16, "2211B3FA-BD23-11D2-B4B7-00A0C955FC6E"),  // Content Branding Object
    ASF_GUID_ROW(17, "7BF875CE-468D-11D1-8D82-006097C9A2B2"),  // Stream Bitrate Properties Object
    ASF_GUID_ROW(18, "2211B3FB-BD23-11D2-B4B7-00A0C955FC6E"),  // Content Encryption Object
    ASF_GUID_ROW(19, "298AE614-2622-4C17-B935-DAE07EE9289C"),  // Extended Content Encryption Object
    ASF_GUID_ROW(20, "2211B3FC-BD23-11D2-B4B7-00A0C955FC6E"),  // Digital Signature Object
    ASF_GUID_ROW(21, "1806D474-CADF-4509-A4BA-9AABCB96AAE8"),  // Padding Object
    // Header extension objects
    ASF_GUID_ROW(22, "14E6A5CB-C672-4332-8399-A96952065B5A"),  // Extended Stream Properties Object
    ASF_GUID_ROW(23, "A08649CF-4775-4670-8A16-6E35357566CD"),  // Advanced Mutual Exclusion Object
    ASF_GUID_ROW(24, "D1465A40-5A79-4338-B71B-E36B8FD6C249"),  // Group Mutual Exclusion Object
    ASF_GUID_ROW(25, "D4FED15B-88D3-454F-81F0-ED5C45999E24"),  // Stream Prioritization Object
    ASF_GUID_ROW(26, "A69609E6-517B-11D2-B6AF-00C04FD908E9"),  // Bandwidth Sharing Object
    ASF_GUID_ROW(27, "7C4346A9-EFE0-4BFC-B229-393EDE415C85"),  // Language List Object
    ASF_GUID_ROW(28, "C5F8CBEA-5BAF-4877-8467-AA8C44FA4CCA"),  // Metadata Object
    ASF_GUID_ROW(29, "44231C94-9498-49D1-A141-1D134E457054"),  // Metadata Library Object
    ASF_GUID_ROW(30, "D6E229DF-35DA-11D1-9034-00A0C90349BE"),  // Index Parameters Object
    ASF_GUID_ROW(31, "6B203BAD-3F11-48E4-ACA8-D7613DE2CFA7"),  // Media Object Index Parameters Object
    ASF_GUID_ROW(32, "F55E496D-9797-4B5D-8C8B-604DFE9BFB24"),  // Timecode Index Parameters Object
    // Some GUID lists repeat the Header Object's GUID here; this is the one files carry.
    ASF_GUID_ROW(33, "26F18B5D-4584-47EC-9F5F-0E651F0452C9"),  // Compatibility Object
    ASF_GUID_ROW(34, "43058533-6981-49E6-9B74-AD12CB86D58C"),  // Advanced Content Encryption Object
    // Stream types
    ASF_GUID_ROW(35, "F8699E40-5B4D-11CF-A8FD-00805F5C442B"),  // Audio Media
    ASF_GUID_ROW(36, "BC19EFC0-5B4D-11CF-A8FD-00805F5C442B"),  // Video Media
    ASF_GUID_ROW(37, "59DACFC0-59E6-11D0-A3AC-00A0C90348F6"),  // Command Media
    ASF_GUID_ROW(38, "B61BE100-5B4E-11CF-A8FD-00805F5C442B"),  // JFIF Media
    ASF_GUID_ROW(39, "35907DE0-E415-11CF-A917-00805F5C442B"),  // Degradable JPEG Media
    ASF_GUID_ROW(40, "91BD222C-F21C-497A-8B6D-5AA86BFC0185"),  // File Transfer Media
    ASF_GUID_ROW(41, "3AFB65E2-47EF-40F2-AC2C-70A90D71D343"),  // Binary Media
    // Web stream types
    ASF_GUID_ROW(42, "776257D4-C627-41CB-8F81-7AC7FF1C40CC"),  // Web Stream Media Subtype
    ASF_GUID_ROW(43, "DA1E6B13-8359-4050-B398-388E965BF00C"),  // Web Stream Format
    // Error correction types
    ASF_GUID_ROW(44, "20FB5700-5B55-11CF-A8FD-00805F5C442B"),  // No Error Correction
    ASF_GUID_ROW(45, "BFC3CD50-618F-11CF-8BB2-00AA00B4E220"),  // Audio Spread
    // Reserved and content encryption system GUIDs
    ASF_GUID_ROW(46, "ABD3D211-A9BA-11CF-8EE6-00C00C205365"),  // Reserved 1
    ASF_GUID_ROW(47, "7A079BB6-DAA4-4E12-A5CA-91D38DC11A8D"),  // Content Encryption System (DRM for network devices)
    ASF_GUID_ROW(48, "86D15241-311D-11D0-A3A4-00A0C90348F6"),  // Reserved 2
    ASF_GUID_ROW(49, "4B1ACBE3-100B-11D0-A39B-00A0C90348F6"),  // Reserved 3
    ASF_GUID_ROW(50, "4CFEDB20-75F6-11CF-9C0F-00A0C90349CB"),  // Reserved 4
    // Mutual exclusion types
    ASF_GUID_ROW(51, "D6E22A00-35DA-11D1-9034-00A0C90349BE"),  // Mutex Language
    ASF_GUID_ROW(52, "D6E22A01-35DA-11D1-9034-00A0C90349BE"),  // Mutex Bitrate
    ASF_GUID_ROW(53, "D6E22A02-35DA-11D1-9034-00A0C90349BE"),  // Mutex Unknown
    // Bandwidth sharing types
    ASF_GUID_ROW(54, "AF6060AA-5197-11D2-B6AF-00C04FD908E9"),  // Bandwidth Sharing Exclusive
    ASF_GUID_ROW(55, "AF6060AB-5197-11D2-B6AF-00C04FD908E9"),  // Bandwidth Sharing Partial
    // Payload extension systems
    ASF_GUID_ROW(56, "399595EC-8667-4E2D-8FDB-98814CE76C1E"),  // Timecode
    ASF_GUID_ROW(57, "E165EC0E-19ED-45D7-B4A7-25CBD1E28E9B"),  // File Name
    ASF_GUID_ROW(58, "D590DC20-07BC-436C-9CF7-F3BBFBF1A4DC"),  // Content Type
    ASF_GUID_ROW(59, "1B1EE554-F9EA-4BC8-821A-376B74E4C4B8"),  // Pixel Aspect Ratio
    ASF_GUID_ROW(60, "C6BD9450-867F-4907-83A3-C77921B733AD"),  // Sample Duration
    ASF_GUID_ROW(61, "6698B84E-0AFA-4330-AEB2-1C0A98D7A44D"),  // Encryption Sample ID
};

#undef ASF_GUID_ROW

namespace {

// findGuid returns its loop position, so every stored row number must equal its position.
constexpr bool rowNumbersMatchPositions() {
    for (uint32_t row = 0; row < ASF_GUID_COUNT; ++row)
        if (asfGuidTable[row][0] != row) return false;
    return true;
}
static_assert(rowNumbersMatchPositions(), "ASF GUID rows out of order");

}  // namespace

uint32_t findGuid(const uint8_t*& cursor) {
    uint32_t row = 0;
    for (; row < ASF_GUID_COUNT; ++row) {
        const uint8_t* guid = asfGuidTable[row] + 1;
        uint32_t i = 0;
        while (i < 16 && cursor[i] == guid[i]) ++i;
        if (i == 16) break;
    }
    // Unknown objects are skipped by the caller, so the GUID is consumed either way.
    cursor += 16;
    return row;
}

uint32_t readGuid(ByteCursor& cursor) {
    const uint8_t* guid = cursor.take(16);
    return guid != nullptr ? findGuid(guid) : ASF_GUID_NOT_FOUND;
}
