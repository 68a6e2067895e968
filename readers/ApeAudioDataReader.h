// Monkey's Audio (APE) files, both header layouts. Each frame goes out in chunks of at most
// 1024 bytes: the first one opens with a 20-byte frame header, and every 32-bit word of the
// audio data is byte-reversed, counted from the first byte of the audio data.
#pragma once

#include "AudioDataReader.h"

class ApeAudioDataReader : public AudioDataReader {
public:
    explicit ApeAudioDataReader(const char* path);

    FrameBuffer* readFrame() override;

protected:
    int64_t parseHeaders() override;
    void describe() override;
    int32_t getFrameLength() override;

private:
    // File offset of the audio data, or -1.
    int32_t parseApeHeader();
    bool parseMagic();
    // Header bytes after the first 6, or -1.
    int32_t parseHeader3980();
    int32_t parseOldHeader();
    // Reads `count` little-endian entries; the claim is bounded by what the file still holds.
    bool readSeekTable(int32_t count);
    // The audio data must start at a 32-bit file position.
    bool fitsPositions(int64_t headerBytes);
    void reverseEndian(int32_t offset, int32_t length);
    void printSeekTable();
    void fillFrameHeader();

    // An ID3v2 tag before the APE header: the seek table and the audio end count from behind it.
    int32_t mTagLength = 0;
    uint32_t mDescriptorLength = 0;
    uint32_t mHeaderLength = 0;
    uint32_t mSeekTableLength = 0;
    ByteCursor mSeekTable;  // little-endian 32-bit entries
    uint32_t seekEntry(int32_t i) const { return mSeekTable.leAt(4 * static_cast<size_t>(i), 4); }
    uint32_t mWavHeaderLength = 0;
    uint16_t mFormatFlags = 0;
    uint16_t mChannelNum = 0;
    uint32_t mSampleRate = 0;
    uint32_t mFinalFrameBlocks = 0;
    uint32_t mTotalFrames = 0;
    uint32_t mBlocksPerFrame = 0;
    uint16_t mBitsPerSample = 0;
    uint16_t mVersion = 0;
    uint32_t mCompressionLevel = 0;
    uint32_t mAudioDataLength = 0;
    int32_t mSeekNumber = 0;
    int32_t mAudioEnd = 0;
    int32_t mChunkSize = 1024;
    int32_t mFrameNumber = 0;
    int32_t mFrameLength = 0;
    uint32_t mFrameBlocks = 0;
    int32_t mFrameRemaining = 0;
    uint8_t mLeftoverCount = 0;
    uint8_t mLeftoverBytes[3] = {};
    uint8_t mFrameHeader[20] = {};
};
