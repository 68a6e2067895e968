// Mp3AudioDataReader over the input as a whole file.
#include "Mp3AudioDataReader.h"
#include "FuzzSupport.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    return fuzzsupport::readAll<Mp3AudioDataReader>(data, size);
}
