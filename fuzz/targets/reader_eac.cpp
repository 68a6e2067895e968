// EacAudioDataReader over the input as a whole file.
#include "EacAudioDataReader.h"
#include "FuzzSupport.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    return fuzzsupport::readAll<EacAudioDataReader>(data, size);
}
