#include "Signal.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/mman.h>
#include <unistd.h>

namespace compare {

SampleStore& SampleStore::operator=(const SampleStore& other) {
    if (this == &other) return *this;
    release();
    if (reserve(other.mSize)) {
        std::copy(other.mData, other.mData + other.mSize, mData);
        mSize = other.mSize;
    }
    return *this;
}

bool SampleStore::reserve(size_t need) {
    const size_t capacity = std::max({need, mCapacity * 2, size_t(4096)});
    if (capacity <= kInMemory && mFd < 0) {
        mHeap.resize(capacity);
        mData = mHeap.data();
        mCapacity = capacity;
        return true;
    }
    const bool wasMapped = mFd >= 0;
    if (!wasMapped) {
        const char* folder = getenv("TMPDIR");
        std::string name = std::string(folder != nullptr && *folder ? folder : "/tmp") + "/ostrel-compare-XXXXXX";
        mFd = mkstemp(&name[0]);
        if (mFd < 0) return false;
        unlink(name.c_str());
    }
    const size_t bytes = capacity * sizeof(int32_t);
    if (ftruncate(mFd, off_t(bytes)) != 0) return false;
    void* mapped = wasMapped ? mremap(mData, mCapacity * sizeof(int32_t), bytes, MREMAP_MAYMOVE)
                             : mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_SHARED, mFd, 0);
    if (mapped == MAP_FAILED) return false;
    if (!wasMapped) {
        std::copy(mHeap.begin(), mHeap.begin() + long(mSize), static_cast<int32_t*>(mapped));
        std::vector<int32_t>().swap(mHeap);
    }
    mData = static_cast<int32_t*>(mapped);
    mCapacity = capacity;
    return true;
}

void SampleStore::release() {
    if (mFd >= 0) {
        if (mHeap.empty() && mData != nullptr) munmap(mData, mCapacity * sizeof(int32_t));
        close(mFd);
    }
    std::vector<int32_t>().swap(mHeap);
    mFd = -1, mData = nullptr, mSize = mCapacity = 0;
}

}  // namespace compare
