// A block whose size a file header claims: allocated no bigger than what the file still holds.
#pragma once

#include <cstdint>

#include "ByteCursor.h"

class ASTDataAccess;

// Reads `claimed` bytes at the current position into a block of its own, followed by `spare`
// zero bytes, and returns a cursor over what was read and the spare bytes. A claim beyond
// `available` (the bytes left in the file) reads what is there and reports it as the end of the
// data, just as a short read of the whole claim would; other short reads report a read failure.
// The cursor is failed unless the whole claim was read; it holds no block only when even the
// bounded block could not be allocated.
ByteCursor readClaimedBlock(ASTDataAccess& access, int32_t claimed, int32_t available, int32_t spare);
