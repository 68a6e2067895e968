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
    std::vector<std::vector<uint8_t>> frames;
};

template <class Reader>
ReadAll readAll(const std::vector<uint8_t>& file, const char* name) {
    testsupport::TempDir dir;
    std::string path = dir.path(name);
    testsupport::writeFile(path, file);
    ReadAll r;
    r.out = testsupport::captureStdout([&] {
        Reader reader(path.c_str());
        r.invalidAfterOpen = reader.isInvalid();
        r.info = *reader.getAudioInfo();
        if (r.invalidAfterOpen) return;
        for (int i = 0; i < 10000; ++i) {
            FrameBuffer* f = reader.readFrame();
            if (f->length < 1 || f->data == nullptr) break;
            r.frames.emplace_back(f->data, f->data + f->length);
        }
        r.invalidAtEnd = reader.isInvalid();
    });
    return r;
}

inline std::vector<uint8_t> concat(std::initializer_list<std::vector<uint8_t>> parts) {
    std::vector<uint8_t> all;
    for (const auto& p : parts) all.insert(all.end(), p.begin(), p.end());
    return all;
}

inline std::vector<uint8_t> bytesOf(const std::string& text) { return std::vector<uint8_t>(text.begin(), text.end()); }
