#include "FlacFrameHeader.h"

#include "ASTLog.h"
#include "ByteCursor.h"
#include "FieldCodec.h"

namespace {

const uint16_t kFrameSync = 0x3FFE;
const int32_t kMaxHeaderLength = 16;

// The coded frame or sample number: as many bytes as leading 1 bits, one byte for none or one.
uint8_t codedNumberLength(uint8_t first) {
    uint8_t n = 0;
    while (n < 8 && (first & (0x80 >> n))) ++n;
    return n <= 1 ? 1 : n;
}

uint32_t blockSizeOf(uint8_t index, uint16_t coded) {
    if (index == 1) return 192;
    if (index >= 2 && index <= 5) return 576u << (index - 2);
    if (index == 6 || index == 7) return coded + 1u;
    if (index >= 8) return 256u << (index - 8);
    return 0;
}

}  // namespace

uint8_t FlacFrameHeader::bitsPerSample() const {
    static const uint8_t kBits[8] = {0, 8, 12, 0, 16, 20, 24, 32};
    return kBits[sampleSizeIndex & 7];
}

bool parseFlacFrameHeader(const uint8_t* data, int32_t available, FlacFrameHeader& h, bool quiet) {
    ByteCursor c(data, kMaxHeaderLength);
    h.syncWord = static_cast<uint16_t>(c.bits(14));
    if (h.syncWord != kFrameSync) {
        if (!quiet) astLog("[AST][ERR]FLAC file sync word error(syncWord=%03X).\n", h.syncWord);
        return false;
    }
    h.reserved1 = static_cast<uint8_t>(c.bits(1));
    h.variableBlockSize = static_cast<uint8_t>(c.bits(1));
    h.blockSizeInSampleIndex = static_cast<uint8_t>(c.bits(4));
    h.samplingFrequencyIndex = static_cast<uint8_t>(c.bits(4));
    h.channelAssignmentIndex = static_cast<uint8_t>(c.bits(4));
    h.sampleSizeIndex = static_cast<uint8_t>(c.bits(3));
    h.reserved2 = static_cast<uint8_t>(c.bits(1));
    h.utf8Str[0] = static_cast<uint8_t>(c.bits(8));

    const uint8_t n = codedNumberLength(h.utf8Str[0]);
    if (n > (h.variableBlockSize ? 7 : 6)) {
        if (!quiet)
            astLog("[AST][ERR]FLAC file UTF-8 string error(mFrameHeader.utf8Str[0]=0x%02X).\n", h.utf8Str[0]);
        return false;
    }
    h.number = n == 1 ? h.utf8Str[0] & 0x7Fu : h.utf8Str[0] & (0xFFu >> (n + 1));
    for (uint8_t i = 1; i < n; ++i) {
        h.utf8Str[i] = static_cast<uint8_t>(c.bits(8));
        h.number = h.number << 6 | (h.utf8Str[i] & 0x3Fu);
    }

    h.blockSizeInSample = 0;
    if (h.blockSizeInSampleIndex == 6)
        h.blockSizeInSample = static_cast<uint16_t>(c.bits(8));
    else if (h.blockSizeInSampleIndex == 7)
        h.blockSizeInSample = static_cast<uint16_t>(c.bits(16));
    h.blockSize = blockSizeOf(h.blockSizeInSampleIndex, h.blockSizeInSample);
    if (h.samplingFrequencyIndex == 12)
        h.samplingFrequency = static_cast<uint16_t>(c.bits(8));
    else if (h.samplingFrequencyIndex == 13 || h.samplingFrequencyIndex == 14)
        h.samplingFrequency = static_cast<uint16_t>(c.bits(16));

    const int32_t length = static_cast<int32_t>(c.position());
    // A header cut by the end of the file is none.
    if (length >= available) return false;
    const uint8_t computed = crc8(data, static_cast<uint32_t>(length));
    h.crc8 = static_cast<uint8_t>(c.bits(8));
    if (computed != h.crc8) {
        if (!quiet) astLog("[AST][ERR]FLAC file CRC-8 check error(0x%02X != 0x%02X).\n", computed, h.crc8);
        return false;
    }
    h.length = length + 1;
    return true;
}
