// The host service's Ogg adapter: a record, then units (layout in AdapterFeed.h).
#include "AdapterFeed.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    return fuzzsupport::feedAdapter(hostaudio::makeOggAdapter(), data, size);
}
