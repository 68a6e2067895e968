#include "ByteCursor.h"

#include <cstdlib>
#include <cstring>
#include <utility>

#include "FieldCodec.h"

ByteCursor ByteCursor::allocate(size_t size) {
    ByteCursor c;
    // One byte more, so that even an empty block is a block.
    c.mOwned = static_cast<uint8_t*>(calloc(size + 1, 1));
    if (c.mOwned == nullptr) return c;
    c.mData = c.mOwned;
    c.mSize = size;
    return c;
}

ByteCursor::~ByteCursor() { free(mOwned); }

ByteCursor::ByteCursor(ByteCursor&& other) noexcept { *this = std::move(other); }

ByteCursor& ByteCursor::operator=(ByteCursor&& other) noexcept {
    if (this != &other) {
        free(mOwned);
        mOwned = std::exchange(other.mOwned, nullptr);
        mData = std::exchange(other.mData, nullptr);
        mSize = std::exchange(other.mSize, 0);
        mPos = std::exchange(other.mPos, 0);
        mBitsLeft = std::exchange(other.mBitsLeft, 8);
        mFailed = std::exchange(other.mFailed, false);
    }
    return *this;
}

bool ByteCursor::fail() {
    mFailed = true;
    mPos = mSize;
    mBitsLeft = 8;
    return false;
}

bool ByteCursor::need(size_t n) {
    mBitsLeft = 8;
    return n <= mSize - mPos || fail();
}

uint32_t ByteCursor::field(size_t width, int32_t byteOrder) {
    if (width == 0) return 0;
    if (width > 8 || !need(width)) return fail(), 0;
    const uint8_t* p = here();
    uint32_t value = readByteField(p, static_cast<uint8_t>(width), byteOrder);
    mPos += width;
    return value;
}

uint32_t ByteCursor::be(size_t width) { return field(width, AST_BIG_ENDIAN); }

uint32_t ByteCursor::le(size_t width) { return field(width, AST_LITTLE_ENDIAN); }

uint32_t ByteCursor::leAt(size_t offset, size_t width) const {
    if (width == 0 || width > 4 || offset > mSize || width > mSize - offset) return 0;
    const uint8_t* p = mData + offset;
    return readByteField(p, static_cast<uint8_t>(width), AST_LITTLE_ENDIAN);
}

uint64_t ByteCursor::be64() {
    uint64_t high = be(4);
    return high << 32 | be(4);
}

uint64_t ByteCursor::le64() {
    uint64_t low = le(4);
    return static_cast<uint64_t>(le(4)) << 32 | low;
}

uint32_t ByteCursor::bits(uint32_t width) {
    if (width == 0) return 0;
    const size_t available = (mSize - mPos) * 8 - (mPos < mSize ? 8u - mBitsLeft : 0u);
    if (width > 32 || width > available) return fail(), 0;
    const uint8_t* p = here();
    uint32_t value = readBitField(p, static_cast<uint8_t>(width), mBitsLeft);
    mPos = static_cast<size_t>(p - mData);
    return value;
}

bool ByteCursor::skip(size_t n) {
    if (!need(n)) return false;
    mPos += n;
    return true;
}

const uint8_t* ByteCursor::take(size_t n) {
    if (!need(n)) return nullptr;
    const uint8_t* p = here();
    mPos += n;
    return p;
}

bool ByteCursor::copy(void* out, size_t n) {
    const uint8_t* p = take(n);
    if (p != nullptr && n > 0) memcpy(out, p, n);
    return p != nullptr;
}

ByteCursor ByteCursor::sub(size_t n) {
    mBitsLeft = 8;
    const size_t left = mSize - mPos;
    ByteCursor part(here(), n < left ? n : left);
    if (n > left) {
        part.mFailed = true;
        fail();
    } else {
        mPos += n;
    }
    return part;
}

void ByteCursor::truncate(size_t size) {
    if (size >= mSize) return;
    mSize = size;
    if (mPos > mSize) mPos = mSize;
}

bool ByteCursor::seek(size_t offset) {
    mBitsLeft = 8;
    if (offset > mSize) return fail();
    mPos = offset;
    return true;
}
