// RealAudio in a RealMedia file: the headers are parsed and reported, no frame is handed out.
#pragma once

#include <memory>

#include "AudioDataReader.h"

// Type-specific data of an audio stream. A logical stream keeps its version and its
// stream, rule and property counts in the first four 16-bit fields.
struct RaSpecificData {
    uint16_t version = 0;
    uint16_t reserved1 = 0;
    uint32_t raSignature = 0;
    uint32_t audioFileSize = 0;
    uint16_t version2 = 0;
    uint32_t headerSize = 0;
    uint16_t codecFlavor = 0;
    uint32_t codedFrameSize = 0;
    uint32_t audioBytes = 0;
    uint32_t bytesPerMinute = 0;
    uint32_t reserved2 = 0;
    uint16_t subPacketH = 0;
    uint16_t frameSize = 0;
    uint16_t subPacketSize = 0;
    uint16_t reserved3 = 0;
    uint16_t sampleRate = 0;
    uint16_t reserved4 = 0;
    uint16_t sampleSize = 0;
    uint16_t channels = 0;
    uint8_t interleaverIdStringLength = 0;
    uint32_t interleaverIdString = 0;
    uint8_t fourccStringLength = 0;
    uint32_t fourccString = 0;
    uint8_t reserved5 = 0;
    uint8_t reserved6 = 0;
    uint8_t reserved7 = 0;
    uint32_t codecExtraDataLength = 0;
};

class RaBodyCursor;

class RaAudioDataReader : public AudioDataReader {
public:
    explicit RaAudioDataReader(const char* path);

    FrameBuffer* readFrame() override;

private:
    bool parseRaAudioHeader();
    bool parseRmfHeader();
    bool parseChunks(uint16_t chunkCount);
    // The body parses are false only when a field would lie past the chunk's body.
    bool parseProp(const uint8_t* body, int32_t length);
    bool parseMdpr(const uint8_t* body, int32_t length);
    bool parseAudioLayout(RaBodyCursor& c);
    bool parseLogicalStream(RaBodyCursor& c, uint32_t avgPacketSize);
    bool parseData(const uint8_t* body, int32_t length);

    bool mIsOldVersion = false;
    std::unique_ptr<RaSpecificData> mSpecificData;
    int32_t mDataPos = 0;
    uint32_t mAvgPacketSize = 0;
};
