// OggAudioDataReader over the input as a whole file.
#include "FuzzSupport.h"
#include "OggAudioDataReader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    return fuzzsupport::readAll<OggAudioDataReader>(data, size);
}
