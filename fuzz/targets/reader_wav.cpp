// WavAudioDataReader over the input as a whole file; input without a WAV header is read as
// raw PCM with a fixed description, as the command line would give it.
#include "FuzzSupport.h"
#include "WavAudioDataReader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    AudioInfo raw{};
    raw.sampleFrequency = 8000;
    raw.channelMap = 2;
    raw.pcm.bitDepth = 16;
    raw.pcm.blockAlign = 4;
    raw.pcm.bytesPerSecond = 32000;
    return fuzzsupport::readAll<WavAudioDataReader>(data, size, &raw, uint32_t{20});
}
