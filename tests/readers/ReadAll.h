// Runs a reader over a file image: what it printed, what it handed out, how it ended.
#pragma once

#include <string>
#include <vector>

#include "AudioDataReader.h"
#include "TestSupport.h"

struct ReadAll {
    std::string out;
    bool invalidAfterOpen = true;
    bool invalidAtEnd = true;
    AudioInfo info{};  // as the constructor left it
    std::vector<size_t> lengths;
    std::vector<uint8_t> handed;  // every frame, one behind the other
};

template <class Reader>
ReadAll readAll(const std::vector<uint8_t>& file) {
    testsupport::TempDir dir;
    std::string path = dir.path("in");
    testsupport::writeFile(path, file);
    ReadAll r;
    r.out = testsupport::captureStdout([&] {
        Reader reader(path.c_str());
        r.invalidAfterOpen = reader.isInvalid();
        r.info = *reader.getAudioInfo();
        if (r.invalidAfterOpen) return;
        for (FrameBuffer* f = reader.readFrame(); f->length > 0; f = reader.readFrame()) {
            r.lengths.push_back(static_cast<size_t>(f->length));
            r.handed.insert(r.handed.end(), f->data, f->data + f->length);
        }
        r.invalidAtEnd = reader.isInvalid();
    });
    return r;
}

// The frames must be the file's bytes from `start` on.
inline bool handedFrom(const ReadAll& r, const std::vector<uint8_t>& file, size_t start) {
    return start + r.handed.size() <= file.size() &&
           std::equal(r.handed.begin(), r.handed.end(), file.begin() + static_cast<long>(start));
}

inline std::vector<uint8_t> concat(std::initializer_list<std::vector<uint8_t>> parts) {
    std::vector<uint8_t> all;
    for (const auto& p : parts) all.insert(all.end(), p.begin(), p.end());
    return all;
}

inline std::vector<uint8_t> bytesOf(const std::string& text) { return std::vector<uint8_t>(text.begin(), text.end()); }
