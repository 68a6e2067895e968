// ApeAudioDataReader over the input as a whole file.
#include "ApeAudioDataReader.h"
#include "FuzzSupport.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    return fuzzsupport::readAll<ApeAudioDataReader>(data, size);
}
