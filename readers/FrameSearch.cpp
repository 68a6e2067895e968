#include "FrameSearch.h"

#include "ASTDataAccess.h"
#include "ASTLog.h"

namespace {

// Four times the longest frame of any format searched (LOAS: 8194 bytes), so a window holds a
// candidate with the header behind it and moves on by most of itself.
const int32_t kWindow = 32768;

}  // namespace

bool FrameSearch::fill(ASTDataAccess& access, int64_t at) {
    if (mWindow.empty()) mWindow.resize(kWindow);
    mBase = -1;
    if (!access.seek(at, 0)) return false;
    const int32_t n = access.read(mWindow.data(), kWindow);
    if (n <= 0) return false;
    mBase = at;
    mLength = n;
    mAtEnd = n < kWindow;
    return true;
}

int64_t FrameSearch::find(ASTDataAccess& access, int64_t from, const FrameSync& sync) {
    const int64_t header = sync.headerLength;
    const FrameProbe behindProbe = sync.behind != nullptr ? sync.behind : sync.probe;
    for (int64_t at = from;; ++at) {
        if (mBase < 0 || at < mBase || at + header > mBase + mLength) {
            if (mBase >= 0 && mAtEnd && at >= mBase) return -1;  // fewer bytes than a header left
            if (!fill(access, at) || at + header > mBase + mLength) return -1;
        }
        uint32_t key = 0;
        const int32_t length = sync.probe(mWindow.data() + (at - mBase), size_t(mBase + mLength - at), &key);
        if (length <= 0) continue;
        const int64_t next = at + length;
        // The header behind it lies past the window: the window moves to the candidate.
        if (next + header > mBase + mLength && !mAtEnd && at > mBase && !fill(access, at)) return -1;
        const int64_t end = mBase + mLength;
        if (next == end && mAtEnd) return at;  // the frame ends the file
        uint32_t behind = 0;
        if (next + header <= end && behindProbe(mWindow.data() + (next - mBase), size_t(end - next), &behind) > 0 &&
            behind == key)
            return at;
    }
}

int64_t FrameSearch::resynchronise(ASTDataAccess& access, int64_t expected, const FrameSync& sync) {
    const int64_t found = find(access, expected + 1, sync);
    if (found < 0) return -1;
    astLog("[AST][WRN]Skipped %lld bytes to the next %s frame header.\n", static_cast<long long>(found - expected),
           sync.name);
    return seekReported(access, found, 0) ? found : -1;
}
