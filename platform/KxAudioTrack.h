// Realtime playback track of the platform audio service.
#pragma once

#include <cstdint>

#include "AudioCodecParameter.h"

namespace audio {

class KxAudioTrack {
public:
    static KxAudioTrack* create(const char* trackName, const char* outputName, const audio_codec_parameter_t* param,
                                uint32_t byteCount);
    static void destroy(KxAudioTrack* track);

    // Virtual slots in the library's order; the tool calls clear, start, stop and write.
    virtual int32_t clear() = 0;
    virtual int32_t start() = 0;
    virtual int32_t stop() = 0;
    virtual int32_t pause() = 0;
    virtual int32_t flush() = 0;
    virtual int32_t getLatency() = 0;
    virtual int32_t write(const uint8_t* data, int32_t length, int32_t flag) = 0;

protected:
    KxAudioTrack() = default;
    virtual ~KxAudioTrack() = default;

private:
    KxAudioTrack(const KxAudioTrack&) = delete;
    KxAudioTrack& operator=(const KxAudioTrack&) = delete;
};

}  // namespace audio
