#include "AlsaTrack.h"

#include <algorithm>
#include <alsa/asoundlib.h>
#include <cstdio>
#include <cstdlib>

#include "PcmRecord.h"

namespace hostaudio {
namespace {

bool alsaFormat(int32_t code, snd_pcm_format_t& format) {
    switch (code) {
    case audio::AUDIO_PCM_S8: format = SND_PCM_FORMAT_S8; return true;
    case audio::AUDIO_PCM_U8: format = SND_PCM_FORMAT_U8; return true;
    case audio::AUDIO_PCM_S16LE: format = SND_PCM_FORMAT_S16_LE; return true;
    case audio::AUDIO_PCM_S16BE: format = SND_PCM_FORMAT_S16_BE; return true;
    case audio::AUDIO_PCM_S32LE: format = SND_PCM_FORMAT_S32_LE; return true;
    case audio::AUDIO_PCM_S32BE: format = SND_PCM_FORMAT_S32_BE; return true;
    default: return false;
    }
}

// A machine without a sound card is normal here; ALSA would say so on standard error.
void quiet(const char*, int, const char*, int, const char*, ...) {}

constexpr unsigned kLatencyMicroseconds = 100000;

}  // namespace

AlsaTrack* AlsaTrack::open(const audio::audio_codec_parameter_t& param) {
    const char* name = std::getenv("HOSTAUDIO_ALSA_DEVICE");
    if (name == nullptr) {
        name = "default";
    }
    snd_pcm_format_t format;
    const int32_t channels = recordChannels(param);
    const int32_t sampleBytes = pcmSampleBytes(param.pcm.format);
    if (*name == '\0' || !alsaFormat(param.pcm.format, format) || channels <= 0 || sampleBytes <= 0 ||
        param.sampleRate <= 0) {
        return nullptr;
    }
    snd_lib_error_set_handler(&quiet);
    snd_pcm_t* pcm = nullptr;
    if (snd_pcm_open(&pcm, name, SND_PCM_STREAM_PLAYBACK, 0) < 0) {
        snd_config_update_free_global();
        return nullptr;
    }
    int rc = snd_pcm_set_params(pcm, format, SND_PCM_ACCESS_RW_INTERLEAVED, unsigned(channels),
                                unsigned(param.sampleRate), 1, kLatencyMicroseconds);
    if (rc < 0) {
        std::fprintf(stderr, "hostaudio: ALSA device %s cannot play %d Hz, %d channels, format %d: %s\n", name,
                     param.sampleRate, channels, param.pcm.format, snd_strerror(rc));
        snd_pcm_close(pcm);
        snd_config_update_free_global();
        return nullptr;
    }
    return new AlsaTrack(pcm, sampleBytes * channels, uint32_t(param.sampleRate));
}

AlsaTrack::AlsaTrack(_snd_pcm* pcm, int32_t frameBytes, uint32_t rate)
    : mPcm(pcm), mFrameBytes(frameBytes), mRate(rate) {}

AlsaTrack::~AlsaTrack() {
    snd_pcm_drop(mPcm);
    snd_pcm_close(mPcm);
}

int32_t AlsaTrack::clear() {
    drop();
    return 0;
}

int32_t AlsaTrack::start() {
    if (mPaused && snd_pcm_pause(mPcm, 0) < 0) {
        drop();  // a device that cannot resume starts over
    }
    mStarted = true;
    mPaused = false;
    return 0;
}

// Like a drain: returns once everything accepted has played.
int32_t AlsaTrack::stop() {
    if (mStarted && !mPaused) {
        snd_pcm_drain(mPcm);  // a paused track's remainder is dropped below
    }
    mStarted = false;
    mPaused = false;
    drop();
    return 0;
}

int32_t AlsaTrack::pause() {
    if (!mStarted || snd_pcm_pause(mPcm, 1) < 0) {
        return -1;
    }
    mPaused = true;
    return 0;
}

int32_t AlsaTrack::flush() { return clear(); }

// Milliseconds before a byte written now is heard.
int32_t AlsaTrack::getLatency() {
    snd_pcm_sframes_t delay = 0;
    if (snd_pcm_delay(mPcm, &delay) < 0 || delay < 0) {
        return 0;
    }
    return int32_t(int64_t{delay} * 1000 / mRate);
}

int32_t AlsaTrack::write(const uint8_t* data, int32_t length, int32_t) {
    if (length < 0 || (data == nullptr && length > 0) || !mStarted) {
        return -1;
    }
    if (mPaused) {
        return 0;
    }
    int32_t taken = 0;
    if (!mPartial.empty()) {
        size_t wanted = size_t(mFrameBytes) - mPartial.size();
        size_t part = std::min(wanted, size_t(length));
        mPartial.insert(mPartial.end(), data, data + part);
        if (mPartial.size() == size_t(mFrameBytes)) {
            int64_t played = play(mPartial.data(), 1);
            if (played < 0) {
                return -1;
            }
            if (played == 0) {
                mPartial.resize(mPartial.size() - part);
                return 0;
            }
            mPartial.clear();
        }
        taken = int32_t(part);
    }
    const int64_t frames = (length - taken) / mFrameBytes;
    if (frames > 0) {
        int64_t played = play(data + taken, frames);
        if (played < 0 && taken == 0) {
            return -1;
        }
        taken += int32_t(std::max<int64_t>(played, 0) * mFrameBytes);
        if (played < frames) {
            mRecord.write(data, size_t(taken));
            return taken;
        }
    }
    // Less than a frame left: kept until the rest of the frame comes.
    mPartial.insert(mPartial.end(), data + taken, data + length);
    mRecord.write(data, size_t(length));
    return length;
}

int64_t AlsaTrack::play(const uint8_t* data, int64_t frames) {
    snd_pcm_sframes_t played = snd_pcm_writei(mPcm, data, snd_pcm_uframes_t(frames));
    if (played < 0) {
        // An underrun or a suspend: the device is set up again and the frames offered once more.
        if (snd_pcm_recover(mPcm, int(played), 1) < 0) {
            std::fprintf(stderr, "hostaudio: ALSA write failed: %s\n", snd_strerror(int(played)));
            return -1;
        }
        played = snd_pcm_writei(mPcm, data, snd_pcm_uframes_t(frames));
    }
    return played < 0 ? 0 : int64_t{played};
}

void AlsaTrack::drop() {
    snd_pcm_drop(mPcm);
    snd_pcm_prepare(mPcm);
    mPartial.clear();
}

}  // namespace hostaudio
