// MPEG audio elementary streams (MPEG-1, 2 and 2.5, Layers I to III) behind optional ID3 tags,
// handed out one whole frame at a time.
#pragma once

#include "AudioDataReader.h"
#include "FrameSearch.h"

#include <vector>

class Mp3AudioDataReader : public AudioDataReader {
public:
    explicit Mp3AudioDataReader(const char* path);

    FrameBuffer* readFrame() override;

protected:
    int64_t parseHeaders() override;
    void mapSampleRate(uint32_t index) override;
    void mapChannel(uint8_t mode) override;
    int32_t getFrameLength() override;

private:
    // The length of the frame whose header is at the current position or, when that one does
    // not parse or gives no usable length, of the next confirmed one behind it; 0 at the end.
    int32_t nextFrameLength();
    // Reads and decodes the 4-byte frame header at the current position.
    bool parseMp3DataFrameHeader();
    bool parseId3v2Header();
    int32_t walkId3v2Frames();
    bool seekAndParse(int64_t position);
    void parseId3v1();
    uint32_t headerWord() const;
    // Free format: the unpadded frame length from the distance to the next header of the stream,
    // confirmed by a third; the file position is left behind the header at `at`.
    void findFreeFormatLength(int64_t at);

    uint8_t mId3v1[128] = {};

    struct {
        uint8_t majorVersion;
        uint8_t revision;
        uint32_t headerSize;
    } mId3v2 = {};

    uint8_t mFrameHeader[4] = {};
    uint32_t mVersion = 0;  // 0 MPEG 2.5, 1 reserved, 2 MPEG-2, 3 MPEG-1
    uint32_t mLayer = 0;    // 0 reserved, 1 Layer III, 2 Layer II, 3 Layer I
    uint8_t mBitRateIndex = 0;
    uint8_t mPadding = 0;
    FrameSearch mSearch;
    int32_t mFreeLength = 0;  // unpadded; 0 while not found
    uint32_t mFreeKey = 0;    // the header fields it was found for
    std::vector<uint8_t> mFreeWindow;
};
