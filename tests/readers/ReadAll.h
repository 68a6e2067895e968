// The log lines readers print, and a harness that runs a reader over a file image.
#pragma once

#include <algorithm>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "AudioDataReader.h"
#include "ReaderBytes.h"
#include "TestSupport.h"

using Bytes = std::vector<uint8_t>;
using Lengths = std::vector<size_t>;
using testsupport::be;
using testsupport::cat;
using testsupport::le;
using testsupport::pattern;
using testsupport::str;

inline std::string inf(const std::string& text) { return "[AST][INF]" + text + "\n"; }
inline std::string err(const std::string& text) { return "[AST][ERR]" + text + "\n"; }
inline std::string endOfData(size_t count) { return inf("Reached end of data:" + std::to_string(count) + "."); }
inline std::string skipped(size_t count, const std::string& format) {
    return "[AST][WRN]Skipped " + std::to_string(count) + " bytes to the next " + format + " frame header.\n";
}
// What a reader prints of the stream it found.
inline std::string summary(const std::string& parser, uint32_t rate, uint32_t channelMap) {
    return inf(parser + ":") + inf("sampleFrequency=" + std::to_string(rate)) +
           inf("channelMap=" + std::to_string(channelMap) + "(1-Mono/2-Stereo)");
}

struct ReadAll {
    std::string opening, reading;  // printed by the constructor, and by probe and the reads
    bool invalid = true;           // after opening
    bool invalidAtEnd = true;
    AudioInfo info{};  // as the constructor left it
    std::vector<Bytes> frames;
    std::string out() const { return opening + reading; }
    Lengths lengths() const {
        Lengths n;
        for (const Bytes& f : frames) n.push_back(f.size());
        return n;
    }
    // The frames, one behind the other, are the file's bytes from `start` on.
    bool handedFrom(const Bytes& file, size_t start) const {
        Bytes all;
        for (const Bytes& f : frames) all.insert(all.end(), f.begin(), f.end());
        return start + all.size() <= file.size() && std::equal(all.begin(), all.end(), file.begin() + long(start));
    }
};

// Opens the file with Reader and, unless it is invalid, reads frames until one is empty.
template <class Reader>
ReadAll readAll(const Bytes& file, const std::function<void(Reader&)>& probe = nullptr) {
    testsupport::TempDir dir;
    const std::string path = dir.path("in");
    testsupport::writeFile(path, file);
    ReadAll r;
    std::unique_ptr<Reader> reader;
    r.opening = testsupport::captureStdout([&] { reader.reset(new Reader(path.c_str())); });
    r.invalid = reader->isInvalid();
    r.info = *reader->getAudioInfo();
    r.reading = testsupport::captureStdout([&] {
        if (probe) probe(*reader);
        for (FrameBuffer* f = r.invalid ? nullptr : reader->readFrame(); f && f->length > 0; f = reader->readFrame())
            r.frames.emplace_back(f->data, f->data + f->length);
        r.invalidAtEnd = reader->isInvalid();
    });
    return r;
}
