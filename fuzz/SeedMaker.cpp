// fuzz_seedmaker FILE SEED [LIMIT]: the configure record the tool would give the decoder for
// FILE and the units its reader hands out, in the adapter targets' input layout, up to LIMIT
// bytes (default 16000). Exits 1 when the file has no valid reader or no unit.
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

#include "AudioDataReader.h"
#include "CodecParameter.h"
#include "Codecs.h"
#include "DecoderArgs.h"
#include "FormatTable.h"

int main(int argc, char** argv) {
    if (argc < 3) {
        fprintf(stderr, "usage: %s FILE SEED [LIMIT]\n", argv[0]);
        return 2;
    }
    const size_t limit = argc > 3 ? strtoul(argv[3], nullptr, 10) : 16000;
    const char* suffix = fileSuffix(argv[1]);
    int32_t codec = suffix ? codecOfSuffix(suffix) : -1;
    AudioInfo raw{};
    std::unique_ptr<AudioDataReader> reader(createAudioDataReader(codec, argv[1], &raw));
    if (!reader || reader->isInvalid()) return 1;

    if (reader->getFoundCodec() != CODEC_NONE) codec = reader->getFoundCodec();
    audio::audio_codec_parameter_t record{};
    toCodecParameter(&record, codec, reader->getAudioInfo());
    std::vector<uint8_t> seed(1, 0);
    const uint8_t* r = reinterpret_cast<const uint8_t*>(&record);
    seed.insert(seed.end(), r, r + sizeof record);
    int units = 0;
    for (FrameBuffer* f = reader->readFrame(); f && f->data && f->length > 0; f = reader->readFrame()) {
        const size_t n = size_t(f->length);
        if (n > 0xFFFF || seed.size() + 2 + n > limit) break;
        seed.push_back(uint8_t(n >> 8));
        seed.push_back(uint8_t(n));
        seed.insert(seed.end(), f->data, f->data + n);
        ++units;
    }
    FILE* out = fopen(argv[2], "wb");
    if (!out || fwrite(seed.data(), 1, seed.size(), out) != seed.size() || fclose(out) != 0) return 1;
    return units > 0 ? 0 : 1;
}
