// Abstract sink for decoded PCM.
#pragma once

#include <cstdint>

#include "AudioInfo.h"
#include "FrameBuffer.h"

class ASTDataAccess;

class AudioDataWriter {
public:
    explicit AudioDataWriter(const char* path);
    virtual ~AudioDataWriter();

    virtual uint32_t getSampleFrequency();
    virtual uint32_t getChannels();
    // Writes data and length of the frame; any result other than the length is a failure.
    virtual int32_t write(const FrameBuffer* frame) = 0;
    // Completes the output once all PCM is written; false when that failed. The destructor
    // completes it otherwise.
    virtual bool finish() { return true; }

    bool isInvalid() const { return mInvalid; }

    AudioDataWriter(const AudioDataWriter&) = delete;
    AudioDataWriter& operator=(const AudioDataWriter&) = delete;

protected:
    bool mInvalid;
    AudioInfo mInfo;
    ASTDataAccess* mAccess;
};
