// Codec ids: the platform's identifiers of a stream's coding. A file's suffix chooses one, a
// reader may name the one it found, and the decoder's format code is derived from it.
#pragma once

#include <cstdint>

enum : int32_t {
    CODEC_NONE = -1,
    CODEC_PCM = 0,
    CODEC_AAC = 16,  // to 19
    CODEC_TYPE5 = 32,
    CODEC_MPEG = 48,  // the layer from the stream
    CODEC_MPEG_LAYER1 = 49,
    CODEC_MPEG_LAYER2 = 50,
    CODEC_MPEG_LAYER3 = 51,
    CODEC_AUX = 64,
    CODEC_AUX_FIXED = 65,  // option2 always 1
    CODEC_AC3 = 80,        // to 82, E-AC-3 included
    CODEC_FLAC = 96,
    CODEC_OGG = 112,
    CODEC_APE = 128,
    CODEC_WMA = 144,
    CODEC_ALAC = 160,
    CODEC_RA = 176,
};
