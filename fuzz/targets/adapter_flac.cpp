// The host service's Flac adapter: a record, then units (layout in AdapterFeed.h).
#include "AdapterFeed.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    return fuzzsupport::feedAdapter(hostaudio::makeFlacAdapter(), data, size);
}
