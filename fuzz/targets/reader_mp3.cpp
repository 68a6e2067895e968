// Mp3AudioDataReader over the input as a whole file.
#include "FuzzSupport.h"
#include "Mp3AudioDataReader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    return fuzzsupport::readAll<Mp3AudioDataReader>(data, size);
}
