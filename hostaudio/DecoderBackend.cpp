#include "DecoderBackend.h"

namespace hostaudio {

std::unique_ptr<DecoderBackend> makeBackend(int32_t codecType) {
    switch (codecType) {
    case audio::AUDIO_CODEC_PCM:
        return makePcmBackend();
    default:
        return nullptr;
    }
}

}  // namespace hostaudio
