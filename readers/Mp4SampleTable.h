// Where the samples of one MP4 track lie: the sizes ('stsz' or 'stz2'), the runs of samples per
// chunk ('stsc') and the chunk offsets ('stco' or 'co64'), walked in decode order. The tables stay
// as the file's bytes and are read as the samples go by, so their memory is what the file holds,
// whatever counts their headers claim.
#pragma once

#include <cstdint>

#include "ByteCursor.h"

class Mp4SampleTable {
public:
    // An atom's body, kept as it is: 'stsz', 'stz2', 'stsc', 'stco' or 'co64'; a later atom of
    // the same role replaces an earlier one.
    void take(uint32_t type, ByteCursor body);
    // Checks that every table is there and holds what its count says; prints why not.
    bool check(uint64_t fileSize);

    uint32_t sampleCount() const { return mSampleCount; }
    uint32_t largestSample();

    struct Sample {
        uint32_t index;
        uint64_t offset;
        uint32_t size;
    };
    enum Step { SAMPLE, END, BROKEN };
    // The next sample in decode order; BROKEN (printed) once the tables run out of chunks for it,
    // or hold more samples than the file has bytes (chunks may overlap, so nothing else bounds
    // what a small file can make them hand out).
    Step next(Sample& sample);
    void rewind();

private:
    uint32_t sizeOf(uint32_t index);
    uint64_t chunkOffset(uint32_t chunk);
    uint32_t firstChunkOfRun(uint32_t run);

    ByteCursor mSizes, mRuns, mOffsets;
    uint32_t mSizesType = 0, mOffsetsType = 0;
    uint32_t mConstantSize = 0;
    uint32_t mFieldBits = 32;  // per entry of the size table
    uint32_t mSampleCount = 0, mRunCount = 0, mChunkCount = 0;
    uint64_t mFileSize = 0;

    uint32_t mIndex = 0;      // next sample
    uint32_t mNextChunk = 0;  // next chunk to enter
    uint32_t mRun = 0;        // 'stsc' entry of the chunk entered last
    uint32_t mLeftInChunk = 0;
    uint64_t mNextOffset = 0;
};
