// The reader class for a codec id.
#pragma once

#include <cstdint>

class AudioDataReader;
struct AudioInfo;

// Null when no reader serves the codec id.
AudioDataReader* createAudioDataReader(int32_t codec, const char* path, const AudioInfo* rawPcmInfo);
