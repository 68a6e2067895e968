#include "Mp4SampleTable.h"

#include <utility>

#include "ASTLog.h"
#include "Mp4FourCc.h"

namespace {

// Bytes in front of the entries: version and flags and the count, and for the size tables the
// constant size (or the field size) too.
const uint64_t kSizesHead = 12;
const uint64_t kTableHead = 8;

void badLength(uint32_t type) { astLog("[AST][ERR]Unexpected '%s' atom length.\n", fourCcText(type).c_str()); }

}  // namespace

void Mp4SampleTable::take(uint32_t type, ByteCursor body) {
    switch (type) {
    case fourCc("stsz"):
    case fourCc("stz2"): mSizes = std::move(body), mSizesType = type; break;
    case fourCc("stsc"): mRuns = std::move(body); break;
    case fourCc("stco"):
    case fourCc("co64"): mOffsets = std::move(body), mOffsetsType = type; break;
    default: break;
    }
}

bool Mp4SampleTable::check(uint64_t fileSize) {
    mFileSize = fileSize;
    const struct {
        const ByteCursor& body;
        const char* name;
    } needed[] = {{mSizes, "stsz"}, {mRuns, "stsc"}, {mOffsets, "stco"}};
    for (const auto& n : needed) {
        if (!n.body.holds()) {
            astLog("[AST][ERR]Found no '%s' atom in the audio track.\n", n.name);
            return false;
        }
    }

    if (mSizes.size() < kSizesHead) return badLength(mSizesType), false;
    mSizes.seek(4);
    if (mSizesType == fourCc("stz2")) {
        mSizes.skip(3);
        mFieldBits = mSizes.be(1);
        if (mFieldBits != 4 && mFieldBits != 8 && mFieldBits != 16) {
            astLog("[AST][ERR]Unexpected 'stz2' field size %u.\n", mFieldBits);
            return false;
        }
    } else {
        mConstantSize = mSizes.be(4);
    }
    mSampleCount = mSizes.be(4);
    const uint64_t sizeBytes = mConstantSize != 0 ? 0 : (uint64_t{mSampleCount} * mFieldBits + 7) / 8;
    if (mSizes.size() - kSizesHead < sizeBytes) return badLength(mSizesType), false;

    if (mRuns.size() < kTableHead) return badLength(fourCc("stsc")), false;
    mRuns.seek(4);
    mRunCount = mRuns.be(4);
    if ((mRuns.size() - kTableHead) / 12 < mRunCount) return badLength(fourCc("stsc")), false;
    // Runs name their first chunks in increasing order from the first chunk on; any other
    // order would leave chunks without a run.
    for (uint32_t run = 0; run < mRunCount; ++run) {
        const uint32_t first = firstChunkOfRun(run);
        if (first == 0 || (run == 0 && first != 1) || (run > 0 && first <= firstChunkOfRun(run - 1))) {
            astLog("[AST][ERR]The 'stsc' runs are out of order at entry %u.\n", run);
            return false;
        }
    }

    if (mOffsets.size() < kTableHead) return badLength(mOffsetsType), false;
    mOffsets.seek(4);
    mChunkCount = mOffsets.be(4);
    const uint64_t offsetWidth = mOffsetsType == fourCc("co64") ? 8 : 4;
    if ((mOffsets.size() - kTableHead) / offsetWidth < mChunkCount) return badLength(mOffsetsType), false;
    rewind();
    return true;
}

uint32_t Mp4SampleTable::sizeOf(uint32_t index) {
    if (mConstantSize != 0) return mConstantSize;
    mSizes.seek(kSizesHead + uint64_t{index} * mFieldBits / 8);
    if (mFieldBits != 4) return mSizes.be(mFieldBits / 8);
    const uint32_t pair = mSizes.be(1);
    return index % 2 == 0 ? pair >> 4 : pair & 0xF;
}

uint64_t Mp4SampleTable::chunkOffset(uint32_t chunk) {
    if (mOffsetsType == fourCc("co64")) {
        mOffsets.seek(kTableHead + uint64_t{chunk} * 8);
        return mOffsets.be64();
    }
    mOffsets.seek(kTableHead + uint64_t{chunk} * 4);
    return mOffsets.be(4);
}

uint32_t Mp4SampleTable::firstChunkOfRun(uint32_t run) {
    mRuns.seek(kTableHead + uint64_t{run} * 12);
    return mRuns.be(4);
}

uint32_t Mp4SampleTable::largestSample() {
    if (mConstantSize != 0) return mConstantSize;
    uint32_t largest = 0;
    for (uint32_t i = 0; i < mSampleCount; ++i) {
        const uint32_t size = sizeOf(i);
        if (size > largest) largest = size;
    }
    return largest;
}

void Mp4SampleTable::rewind() {
    mIndex = mNextChunk = mRun = mLeftInChunk = 0;
    mNextOffset = 0;
}

Mp4SampleTable::Step Mp4SampleTable::next(Sample& sample) {
    if (mIndex >= mSampleCount) return END;
    if (mIndex >= mFileSize) {
        astLog("[AST][ERR]Sample %u of %u: the tables hold more samples than the file has bytes.\n", mIndex + 1,
               mSampleCount);
        return BROKEN;
    }
    // Chunks of no samples are passed over; there are no more of them than entries in the file.
    while (mLeftInChunk == 0) {
        if (mNextChunk >= mChunkCount || mRunCount == 0) {
            astLog("[AST][ERR]Sample %u of %u lies in no chunk of the 'stsc' and '%s' atoms.\n", mIndex + 1,
                   mSampleCount, fourCcText(mOffsetsType).c_str());
            return BROKEN;
        }
        while (mRun + 1 < mRunCount && firstChunkOfRun(mRun + 1) - 1 <= mNextChunk) ++mRun;
        mRuns.seek(kTableHead + uint64_t{mRun} * 12 + 4);
        mLeftInChunk = mRuns.be(4);
        mNextOffset = chunkOffset(mNextChunk++);
    }
    sample.index = mIndex++;
    sample.offset = mNextOffset;
    sample.size = sizeOf(sample.index);
    // Saturating: a sum past any file is past this one's end.
    mNextOffset = mNextOffset > UINT64_MAX - sample.size ? UINT64_MAX : mNextOffset + sample.size;
    --mLeftInChunk;
    return SAMPLE;
}
