// The one table of the formats the tool knows: which suffixes choose a codec id, which reader
// takes its files, and which format code the decoder is given for it.
#pragma once

#include <cstdint>

#include "AudioInfo.h"

class AudioDataReader;

// Codec id of a suffix (compared ignoring case), CODEC_NONE when no row names it.
int32_t codecOfSuffix(const char* suffix);

// A new reader of the codec's files on path, or null when no reader takes the codec. Raw PCM
// (codec 0) is described by rawPcmInfo.
AudioDataReader* createAudioDataReader(int32_t codec, const char* path, const AudioInfo* rawPcmInfo);

// Whether the codec's reader needs an input it can seek in: a file, not a pipe.
bool needsSeekableInput(int32_t codec);

// The decoder's format code of a codec id (AUDIO_CODEC_INVALID when none), and the first codec id
// of a format code (CODEC_NONE when none).
int32_t codecTypeOf(int32_t codec);
int32_t codecOf(int32_t codecType);
