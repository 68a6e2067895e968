// Abstract base of every input reader: opens the file, owns the frame buffer and the audio info.
#pragma once

#include <cstdint>

#include "AudioInfo.h"
#include "FrameBuffer.h"

class ASTDataAccess;

class AudioDataReader {
public:
    explicit AudioDataReader(const char* path);
    virtual ~AudioDataReader();

    virtual void mapSampleRate(uint32_t value);
    virtual void mapChannel(uint8_t code);
    virtual int32_t getFrameLength();
    virtual FrameBuffer* readFrame() = 0;

    bool isInvalid() const { return mInvalid; }
    const AudioInfo* getAudioInfo() const { return &mInfo; }

    AudioDataReader(const AudioDataReader&) = delete;
    AudioDataReader& operator=(const AudioDataReader&) = delete;

protected:
    bool mInvalid;
    FrameBuffer mFrame;
    AudioInfo mInfo;
    ASTDataAccess* mAccess;

    // Reads exactly `length` bytes; on a short read prints the end-of-data or the
    // read-failure line with the count and returns the count (never below 0).
    int32_t readFully(uint8_t* buffer, int32_t length);
    // Seeks from the start, printing the seek-failure line on failure.
    bool seekTo(int32_t position);
    // Bytes from the current position to the end of the file (0 when unknown). Sizes read
    // from a header are bounded by it before anything is allocated for them.
    int32_t remainingLength();
};
