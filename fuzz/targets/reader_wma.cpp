// WmaAudioDataReader over the input as a whole file.
#include "FuzzSupport.h"
#include "WmaAudioDataReader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    return fuzzsupport::readAll<WmaAudioDataReader>(data, size);
}
