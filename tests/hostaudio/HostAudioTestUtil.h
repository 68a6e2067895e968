// Shared bits of the host audio service tests: records, recording files, and one way each to
// feed units to a decoder or to a format adapter.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "AudioCodecParameter.h"
#include "FormatAdapter.h"
#include "FrameBuffer.h"
#include "KxAudioDecoder.h"
#include "Reference.h"
#include "TestSupport.h"

using Bytes = std::vector<uint8_t>;
using Units = std::vector<Bytes>;

// Zeroed to the last byte, so that records compare with memcmp.
inline audio::audio_codec_parameter_t codecRecord(int32_t codecType, int32_t rate, uint32_t channelMap) {
    audio::audio_codec_parameter_t r;
    std::memset(&r, 0, sizeof r);
    r.codecType = codecType;
    r.sampleRate = rate;
    r.channelMap = channelMap;
    return r;
}

inline audio::audio_codec_parameter_t pcmRecord(int32_t rate, uint32_t channelMap, int32_t format, int32_t blockAlign) {
    audio::audio_codec_parameter_t p = codecRecord(audio::AUDIO_CODEC_PCM, rate, channelMap);
    p.pcm = {format, blockAlign, rate * blockAlign};
    return p;
}

inline audio::audio_codec_parameter_t wmaRecord(int32_t rate, uint32_t channelMap, uint16_t blockAlign) {
    audio::audio_codec_parameter_t r = codecRecord(audio::AUDIO_CODEC_WMA, rate, channelMap);
    r.wma = {16, blockAlign, 16000, 0, 1};
    return r;
}

inline double secondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// Points an environment variable at a fresh file for the length of one test.
struct ScopedEnvFile {
    explicit ScopedEnvFile(const char* var) : name(var), path(dir.path(var)) { setenv(name, path.c_str(), 1); }
    ~ScopedEnvFile() { unsetenv(name); }
    Bytes contents() const { return testsupport::readFile(path); }

    testsupport::TempDir dir;
    const char* name;
    std::string path;
};

// The units the tool's reader hands out for the file.
template <class Reader>
Units readerUnits(const std::string& file) {
    Units units;
    testsupport::captureStdout([&] {
        Reader reader(file.c_str());
        for (FrameBuffer* f = reader.readFrame(); f->length > 0; f = reader.readFrame())
            units.emplace_back(f->data, f->data + f->length);
    });
    return units;
}

struct Decoded {
    Bytes pcm;
    std::string err;  // the service's standard error
};

// Feeds the units to a decoder made from the record on this thread while another thread
// drains it, as the tool does; every unit must be taken whole.
inline Decoded decodeUnits(const audio::audio_codec_parameter_t& record, const Units& units) {
    Decoded d;
    audio::KxAudioDecoder* decoder = audio::KxAudioDecoder::create(&record);
    EXPECT_NE(nullptr, decoder);
    if (decoder == nullptr) return d;
    std::atomic<bool> done{false};
    std::thread reader([&] {
        uint8_t buffer[2048];
        while (!done) {
            int32_t n = decoder->readData(buffer, sizeof buffer, 0);
            if (n > 0)
                d.pcm.insert(d.pcm.end(), buffer, buffer + n);
            else
                std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
    });
    testing::internal::CaptureStderr();
    for (const Bytes& u : units) EXPECT_EQ(int32_t(u.size()), decoder->writeData(u.data(), int32_t(u.size()), 1));
    decoder->setEndOfStream();
    while (!decoder->isFinished()) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    d.err = testing::internal::GetCapturedStderr();
    done = true;
    reader.join();
    audio::KxAudioDecoder::destroy(decoder);
    return d;
}

// What an adapter hands on: codec setups and packets.
struct CapturedPackets final : hostaudio::PacketOutput {
    bool open(const hostaudio::CodecSetup& s) override {
        setups.push_back(s);
        return true;
    }
    bool isOpen() const override { return !setups.empty(); }
    bool packet(const uint8_t* data, size_t length, const std::string&) override {
        packets.emplace_back(data, data + length);
        return true;
    }
    std::vector<hostaudio::CodecSetup> setups;
    Units packets;
};

// A unit and the problem an adapter finds in it ("" when taken).
struct Fed {
    Bytes unit;
    std::string problem;
};

// Configures the adapter, feeds it the units, each taken exactly when no problem is expected,
// and finishes.
inline void expectProblems(hostaudio::FormatAdapter& adapter, const audio::audio_codec_parameter_t& record,
                           const std::vector<Fed>& rows, CapturedPackets& out) {
    EXPECT_TRUE(adapter.configure(record));
    for (const Fed& r : rows) {
        std::string problem;
        EXPECT_EQ(r.problem.empty(), adapter.unpack(r.unit.data(), r.unit.size(), out, problem));
        EXPECT_EQ(r.problem, problem);
    }
    adapter.finish(out);
}
