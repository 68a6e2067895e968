// A block whose size a file header claims: allocated no bigger than what the file still holds.
#pragma once

#include <cstdint>

class ASTDataAccess;

// Reads `claimed` bytes at the current position into a block of its own, followed by `spare`
// zero bytes. A claim beyond `available` (the bytes left in the file) reads what is there and
// reports it as the end of the data, just as a short read of the whole claim would; other short
// reads report a read failure. `got` is the count read. The caller frees the block with free();
// null only when even the bounded block could not be allocated.
uint8_t* readClaimedBlock(ASTDataAccess& access, int32_t claimed, int32_t available, int32_t spare, int32_t& got);
