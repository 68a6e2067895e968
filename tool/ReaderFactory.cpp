#include "ReaderFactory.h"

#include "WavAudioDataReader.h"

namespace {

const uint32_t kPcmFrameDurationMs = 20;

}  // namespace

AudioDataReader* createAudioDataReader(int32_t codec, const char* path, const AudioInfo* rawPcmInfo) {
    switch (codec) {
    case 0: return new WavAudioDataReader(path, rawPcmInfo, kPcmFrameDurationMs);
    default: return nullptr;
    }
}
