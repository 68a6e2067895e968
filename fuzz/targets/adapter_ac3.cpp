// The host service's Ac3 adapter: a record, then units (layout in AdapterFeed.h).
#include "AdapterFeed.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    return fuzzsupport::feedAdapter(hostaudio::makeAc3Adapter(), data, size);
}
