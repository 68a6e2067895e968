#include "ReaderFactory.h"

#include "AacAudioDataReader.h"
#include "AlacAudioDataReader.h"
#include "ApeAudioDataReader.h"
#include "EacAudioDataReader.h"
#include "FlacAudioDataReader.h"
#include "Mp3AudioDataReader.h"
#include "OggAudioDataReader.h"
#include "RaAudioDataReader.h"
#include "WavAudioDataReader.h"
#include "WmaAudioDataReader.h"

namespace {

const uint32_t kPcmFrameDurationMs = 20;

}  // namespace

AudioDataReader* createAudioDataReader(int32_t codec, const char* path, const AudioInfo* rawPcmInfo) {
    switch (codec) {
    case 0: return new WavAudioDataReader(path, rawPcmInfo, kPcmFrameDurationMs);
    case 16: case 17: case 18: case 19: return new AacAudioDataReader(path);
    case 48: case 51: return new Mp3AudioDataReader(path);
    case 80: case 81: case 82: return new EacAudioDataReader(path);
    case 96: return new FlacAudioDataReader(path);
    case 112: return new OggAudioDataReader(path);
    case 128: return new ApeAudioDataReader(path);
    case 144: return new WmaAudioDataReader(path);
    case 160: return new AlacAudioDataReader(path);
    case 176: return new RaAudioDataReader(path);
    default: return nullptr;
    }
}
