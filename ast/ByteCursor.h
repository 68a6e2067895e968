// A bounded cursor over bytes read from a file: fields, bit fields, skips. A read past the end
// yields 0, leaves the cursor at the end and marks it failed, so a walk over a damaged header can
// never touch memory outside the block; callers ask ok() once the fields they need are read.
// A cursor either borrows its bytes or owns them (claimed blocks).
#pragma once

#include <cstddef>
#include <cstdint>

class ByteCursor {
public:
    ByteCursor() = default;
    ByteCursor(const uint8_t* data, size_t size) : mData(data), mSize(data != nullptr ? size : 0) {}
    // A zeroed block of its own of `size` bytes; holds() is false when it could not be allocated.
    static ByteCursor allocate(size_t size);
    ~ByteCursor();
    ByteCursor(ByteCursor&& other) noexcept;
    ByteCursor& operator=(ByteCursor&& other) noexcept;
    ByteCursor(const ByteCursor&) = delete;
    ByteCursor& operator=(const ByteCursor&) = delete;

    // Unsigned fields of 1 to 8 bytes, from the byte the bit position is in (as the field codec
    // reads them); wider than 4 keeps the low 32 bits.
    uint32_t be(size_t width);
    uint32_t le(size_t width);
    uint64_t be64();
    uint64_t le64();
    // A little-endian field of 1 to 4 bytes at an offset from the start, without moving or failing
    // the cursor; 0 when it does not lie inside.
    uint32_t leAt(size_t offset, size_t width) const;
    // `width` (0 to 32) bits, most significant first.
    uint32_t bits(uint32_t width);
    // Moves over n bytes from the byte the bit position is in; false, at the end, when fewer are
    // left.
    bool skip(size_t n);
    // The next n bytes, moved over; null when fewer are left.
    const uint8_t* take(size_t n);
    // Copies the next n bytes out; false, with nothing copied, when fewer are left.
    bool copy(void* out, size_t n);
    // A borrowing cursor over the next n bytes (fewer at the end: it is then failed already), and
    // this one moved behind them.
    ByteCursor sub(size_t n);
    // Moves to an offset from the start; false, at the end, past it.
    bool seek(size_t offset);

    bool ok() const { return !mFailed; }
    // Marks the cursor failed without moving it: its bytes stay readable.
    void setFailed() { mFailed = true; }
    // Shortens the cursor to its first `size` bytes (never lengthens it).
    void truncate(size_t size);
    bool holds() const { return mData != nullptr; }
    size_t size() const { return mSize; }
    size_t position() const { return mPos; }
    size_t remaining() const { return mSize - mPos; }
    const uint8_t* data() const { return mData; }
    const uint8_t* here() const { return mData + mPos; }
    // An owner's bytes, for filling them from a file.
    uint8_t* writable() { return mOwned; }

private:
    // Checks that n bytes are left from the byte the bit position is in, and starts there.
    bool need(size_t n);
    uint32_t field(size_t width, int32_t byteOrder);
    bool fail();

    uint8_t* mOwned = nullptr;
    const uint8_t* mData = nullptr;
    size_t mSize = 0;
    size_t mPos = 0;
    uint8_t mBitsLeft = 8;  // of the byte at mPos
    bool mFailed = false;
};
