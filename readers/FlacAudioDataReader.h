// Native FLAC: frames carry no length, so each one runs up to the next frame header found in a
// window of the file (sync code, then a full header parse with its CRC-8).
#pragma once

#include "AudioDataReader.h"

class FlacAudioDataReader : public AudioDataReader {
public:
    explicit FlacAudioDataReader(const char* path);

    FrameBuffer* readFrame() override;

    // Decodes the frame header at data (at most 16 bytes are looked at); a header longer than
    // `available` bytes is none.
    bool parseFlacFrameHeader(const uint8_t* data, int32_t available);

    int32_t windowSize() const { return mWindowSize; }

protected:
    int64_t parseHeaders() override;
    void mapSampleRate(uint32_t value) override;

private:
    struct MetaHeader {
        bool isLastMeta;
        uint32_t type;
        uint32_t length;
    };
    struct StreamInfo {
        uint16_t minBlockSize;
        uint16_t maxBlockSize;
        uint32_t minFrameSize;
        uint32_t maxFrameSize;
        uint32_t samplingFrequency;
        uint8_t channelNumber;  // channels minus 1
        uint8_t bitPerSample;   // bits minus 1
        uint64_t totalSamples;
        uint8_t md5[16];
    };
    struct FrameHeader {
        uint16_t syncWord;
        uint8_t reserved1;
        uint8_t variableBlockSize;
        uint8_t blockSizeInSampleIndex;
        uint8_t samplingFrequencyIndex;
        uint8_t channelAssignmentIndex;
        uint8_t sampleSizeIndex;
        uint8_t reserved2;
        uint8_t utf8Str[7];
        uint16_t blockSizeInSample;
        uint16_t samplingFrequency;
        uint8_t crc8;
    };

    bool parseMagicHeader();
    // Bytes of metadata consumed, blocks headers included.
    int32_t parseMetaData();
    bool parseStreamInfo(uint32_t length);
    // The offset of the first frame header from `from` to before `to` in the window, or -1.
    int32_t findHeader(int32_t from, int32_t to);
    // Reads the window from `from` to its end; at the end of the file the window shrinks to what
    // was there and atEnd is set. False on a read failure.
    bool fill(int32_t from, bool& atEnd);

    MetaHeader mMetaHeader = {};
    StreamInfo mStreamInfo = {};
    FrameHeader mFrameHeader = {};
    uint8_t mHeaderBuffer[16] = {};
    int32_t mHeaderLength = 0;
    int32_t mWindowSize = 16384;
    int32_t mCarry = 0;
};
