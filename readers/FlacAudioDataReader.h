// Native FLAC: frames carry no length, so each one runs up to the next frame header found in a
// window of the file: a header that parses (sync code, CRC-8), carries the number that follows
// the current frame's, and closes the current frame's CRC-16. A stream may also start at a frame
// header, without "fLaC" and STREAMINFO.
#pragma once

#include "AudioDataReader.h"
#include "FlacFrameHeader.h"

class FlacAudioDataReader : public AudioDataReader {
public:
    explicit FlacAudioDataReader(const char* path);

    FrameBuffer* readFrame() override;

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

    // The magic, behind an ID3v2 tag if there is one; false once the reason has been printed.
    bool parseMagicHeader(uint32_t& magic);
    // A stream without "fLaC": the first frame in the first bytes that the header behind it
    // confirms. Its position, or -1.
    int64_t findStreamStart();
    // Takes the header at data as the current frame's; unless quiet, prints why it does not parse.
    bool takeFrameHeader(const uint8_t* data, int32_t available, bool quiet);
    // Bytes of metadata consumed, blocks headers included.
    int32_t parseMetaData();
    bool parseStreamInfo(uint32_t length);
    // The offset of the first header from `from` to before `to` in the window that ends the
    // current frame, or -1; notes the first that continues the stream and the first beyond it.
    int32_t findHeader(int32_t from, int32_t to);
    // The CRC-16 of the window from the current frame's start to `end`, run on from the last call.
    uint16_t frameCrc(int32_t end);
    // Where a frame whose CRC-16 no header closes ends, or -1: the first header that continues the
    // stream, else the first with a number beyond it.
    int32_t damagedFrameEnd();
    // The frame ends at `end`: the header there becomes the current one and the rest is carried.
    void handOut(int32_t end);
    FrameBuffer* endOfStream();
    // Reads the window from `from` to its end; at the end of the file the window shrinks to what
    // was there and atEnd is set. False on a read failure.
    bool fill(int32_t from, bool& atEnd);

    MetaHeader mMetaHeader = {};
    StreamInfo mStreamInfo = {};
    FlacFrameHeader mFrameHeader = {};  // the current frame's, at the window's start
    uint8_t mHeaderBuffer[16] = {};
    int32_t mHeaderLength = 0;
    int32_t mWindowSize = 16384;
    int32_t mBaseWindow = 16384;  // the window a frame starts in
    int32_t mCarry = 0;
    int64_t mStreamStart = 0;  // behind an ID3v2 tag
    bool mHasStreamInfo = false;
    bool mEnded = false;

    // The search for the end of the current frame.
    uint16_t mCrc = 0;
    int32_t mCrcEnd = 0;
    int32_t mFirstContinuing = -1, mFirstAhead = -1;
    int64_t mRefusedInFrame = 0, mRefusedBeforeContinuing = 0, mRefusedBeforeAhead = 0;
    // Headers that parsed but did not end the frame before them, over the whole stream.
    int64_t mRefused = 0;
};
