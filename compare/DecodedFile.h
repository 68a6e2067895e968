// The decoder's output file: raw PCM or WAV. A WAV header that disagrees with the bytes behind it
// is a finding about the output, not an input error.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "Signal.h"

namespace compare {

// A file's bytes mapped in read-only: the kernel pages them in and out as they are read.
class FileBytes {
public:
    FileBytes() = default;
    FileBytes(const FileBytes&) = delete;
    FileBytes& operator=(const FileBytes&) = delete;
    ~FileBytes() { release(); }

    bool map(const std::string& path, size_t size, std::string& error);
    void release();
    const uint8_t* data() const { return mData; }
    size_t size() const { return mSize; }
    bool empty() const { return mSize == 0; }
    uint8_t operator[](size_t i) const { return mData[i]; }

private:
    const uint8_t* mData = nullptr;
    size_t mSize = 0;
};

struct DecodedFile {
    FileBytes bytes;  // the whole file
    bool wav = false;
    int rate = 0, channels = 0;  // from the WAV header; 0 for raw PCM
    SampleCoding coding;         // from the WAV header; bits 0 for raw PCM
    size_t dataOffset = 0, dataBytes = 0;
    std::vector<std::string> findings;  // what is wrong with the file itself
};

// Empty for a regular file, else what is wrong with the path ("... is a folder, not a file").
std::string notRegular(const std::string& path);

// Reads the file and its WAV header if it has one. False with `error` when it cannot be read,
// is empty, is not PCM, or is an encoded file.
bool readDecodedFile(const std::string& path, DecodedFile& file, std::string& error);

// The samples, in the given layout. A trailing partial frame becomes a finding.
bool decodedSamples(DecodedFile& file, int rate, int channels, const SampleCoding& coding, Signal& out,
                    std::string& error);

}  // namespace compare
