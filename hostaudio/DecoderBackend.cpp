#include "DecoderBackend.h"

#ifdef HOSTAUDIO_WITH_FFMPEG
#include "FfmpegBackend.h"
#endif

namespace hostaudio {

std::unique_ptr<DecoderBackend> makeBackend(int32_t codecType) {
    switch (codecType) {
    case audio::AUDIO_CODEC_PCM: return makePcmBackend();
    case audio::AUDIO_CODEC_RA: return makeRealAudioBackend();
    default:
#ifdef HOSTAUDIO_WITH_FFMPEG
        return makeFfmpegBackend(makeFormatAdapter(codecType));
#else
        return nullptr;
#endif
    }
}

}  // namespace hostaudio
