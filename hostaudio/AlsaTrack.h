// A track on the machine's sound device, through ALSA.
#pragma once

#include <cstdint>
#include <vector>

#include "FileRecorder.h"
#include "KxAudioTrack.h"

struct _snd_pcm;

namespace hostaudio {

class AlsaTrack final : public audio::KxAudioTrack {
public:
    // The device named by HOSTAUDIO_ALSA_DEVICE ("default" when unset), or null when the variable
    // is empty, the format has no ALSA equivalent or the device does not open.
    static AlsaTrack* open(const audio::audio_codec_parameter_t& param);
    ~AlsaTrack() override;

    int32_t clear() override;
    int32_t start() override;
    int32_t stop() override;
    int32_t pause() override;
    int32_t flush() override;
    int32_t getLatency() override;
    // Blocks while the device is full, which paces the caller.
    int32_t write(const uint8_t* data, int32_t length, int32_t flag) override;

    FileRecorder& record() { return mRecord; }

private:
    AlsaTrack(_snd_pcm* pcm, int32_t frameBytes, uint32_t rate);
    // Frames the device took, or -1.
    int64_t play(const uint8_t* data, int64_t frames);
    void drop();

    _snd_pcm* const mPcm;
    const int32_t mFrameBytes;
    const uint32_t mRate;
    bool mStarted = false;
    bool mPaused = false;
    std::vector<uint8_t> mPartial;  // the start of a frame whose rest has not come yet
    FileRecorder mRecord;
};

}  // namespace hostaudio
