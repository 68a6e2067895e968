#include "FormatTable.h"

#include <strings.h>

#include "AacAudioDataReader.h"
#include "ApeAudioDataReader.h"
#include "AudioCodecParameter.h"
#include "Codecs.h"
#include "EacAudioDataReader.h"
#include "FlacAudioDataReader.h"
#include "Mp3AudioDataReader.h"
#include "Mp4AudioDataReader.h"
#include "OggAudioDataReader.h"
#include "RaAudioDataReader.h"
#include "WavAudioDataReader.h"
#include "WmaAudioDataReader.h"

namespace {

using namespace audio;

const uint32_t kPcmFrameDurationMs = 20;

using ReaderMaker = AudioDataReader* (*)(const char* path, const AudioInfo* rawPcmInfo);

template <typename Reader>
AudioDataReader* make(const char* path, const AudioInfo*) {
    return new Reader(path);
}

AudioDataReader* makeWav(const char* path, const AudioInfo* rawPcmInfo) {
    return new WavAudioDataReader(path, rawPcmInfo, kPcmFrameDurationMs);
}

struct Format {
    int32_t firstCodec;
    int32_t lastCodec;
    int32_t codecType;        // the decoder's format code; a code's first row is also the way back
    const char* suffixes[2];  // choosing firstCodec
    ReaderMaker reader;       // null: no reader takes these codec ids
    bool seeks;               // its reader reads at offsets out of order: a pipe will not do
};

const Format kFormats[] = {
    {CODEC_PCM, CODEC_PCM, AUDIO_CODEC_PCM, {"wav", "pcm"}, makeWav, false},
    {CODEC_AAC, CODEC_AAC + 3, AUDIO_CODEC_AAC, {"aac"}, make<AacAudioDataReader>, false},
    {CODEC_TYPE5, CODEC_TYPE5, AUDIO_CODEC_TYPE5, {}, nullptr, false},
    {CODEC_MPEG, CODEC_MPEG, AUDIO_CODEC_MPEG, {"mp3"}, make<Mp3AudioDataReader>, false},
    {CODEC_MPEG_LAYER1, CODEC_MPEG_LAYER2, AUDIO_CODEC_MPEG, {}, nullptr, false},
    {CODEC_MPEG_LAYER3, CODEC_MPEG_LAYER3, AUDIO_CODEC_MPEG, {}, make<Mp3AudioDataReader>, false},
    {CODEC_AUX, CODEC_AUX_FIXED, AUDIO_CODEC_AUX, {}, nullptr, false},
    {CODEC_AC3, CODEC_AC3 + 2, AUDIO_CODEC_AC3, {"ac3", "ec3"}, make<EacAudioDataReader>, false},
    {CODEC_FLAC, CODEC_FLAC, AUDIO_CODEC_FLAC, {"flac"}, make<FlacAudioDataReader>, false},
    {CODEC_OGG, CODEC_OGG, AUDIO_CODEC_OGG, {"ogg"}, make<OggAudioDataReader>, false},
    {CODEC_APE, CODEC_APE, AUDIO_CODEC_APE, {"ape"}, make<ApeAudioDataReader>, false},
    {CODEC_WMA, CODEC_WMA, AUDIO_CODEC_WMA, {"wma"}, make<WmaAudioDataReader>, false},
    {CODEC_ALAC, CODEC_ALAC, AUDIO_CODEC_ALAC, {"alac", "m4a"}, make<Mp4AudioDataReader>, true},
    {CODEC_RA, CODEC_RA, AUDIO_CODEC_RA, {"ra"}, make<RaAudioDataReader>, true},
};

const Format* formatOf(int32_t codec) {
    for (const Format& f : kFormats)
        if (codec >= f.firstCodec && codec <= f.lastCodec) return &f;
    return nullptr;
}

}  // namespace

bool needsSeekableInput(int32_t codec) {
    const Format* f = formatOf(codec);
    return f != nullptr && f->seeks;
}

int32_t codecOfSuffix(const char* suffix) {
    for (const Format& f : kFormats)
        for (const char* s : f.suffixes)
            if (s != nullptr && strcasecmp(s, suffix) == 0) return f.firstCodec;
    return CODEC_NONE;
}

AudioDataReader* createAudioDataReader(int32_t codec, const char* path, const AudioInfo* rawPcmInfo) {
    const Format* f = formatOf(codec);
    return f != nullptr && f->reader != nullptr ? f->reader(path, rawPcmInfo) : nullptr;
}

int32_t codecTypeOf(int32_t codec) {
    const Format* f = formatOf(codec);
    return f != nullptr ? f->codecType : AUDIO_CODEC_INVALID;
}

int32_t codecOf(int32_t codecType) {
    for (const Format& f : kFormats)
        if (f.codecType == codecType) return f.firstCodec;
    return CODEC_NONE;
}
