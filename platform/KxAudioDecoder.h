// Decoder of the platform audio service (closed library; declared here as the tool calls it).
#pragma once

#include <cstdint>

#include "AudioCodecParameter.h"

namespace audio {

class KxAudioDecoder {
public:
    static KxAudioDecoder* create(const audio_codec_parameter_t* param);
    static void destroy(KxAudioDecoder* decoder);

    // Virtual slots in the library's order; the tool calls the first five.
    virtual int32_t writeData(const uint8_t* data, int32_t length, int32_t flag) = 0;
    virtual int32_t setEndOfStream() = 0;
    virtual int32_t readData(uint8_t* buffer, int32_t capacity, int32_t flag) = 0;
    virtual int32_t isFinished() = 0;
    virtual int32_t getOutputParameter(audio_codec_parameter_t* param) = 0;
    virtual int32_t flush() = 0;
    virtual int32_t reset() = 0;

protected:
    KxAudioDecoder() = default;
    virtual ~KxAudioDecoder() = default;

private:
    KxAudioDecoder(const KxAudioDecoder&) = delete;
    KxAudioDecoder& operator=(const KxAudioDecoder&) = delete;
};

}  // namespace audio
