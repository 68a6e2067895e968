// Shared bits of the host audio service tests.
#pragma once

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "AudioCodecParameter.h"

inline audio::audio_codec_parameter_t pcmRecord(int32_t rate, uint32_t channelMap, int32_t format, int32_t blockAlign) {
    audio::audio_codec_parameter_t p;
    std::memset(&p, 0, sizeof p);
    p.codecType = audio::AUDIO_CODEC_PCM;
    p.sampleRate = rate;
    p.channelMap = channelMap;
    p.pcm = {format, blockAlign, rate * blockAlign};
    return p;
}

inline double secondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// Points an environment variable at a fresh file for the length of one test.
struct ScopedEnvFile {
    explicit ScopedEnvFile(const char* var)
        : name(var), path("/tmp/hostaudio_test_" + std::to_string(getpid()) + "_" + var) {
        std::remove(path.c_str());
        setenv(name, path.c_str(), 1);
    }
    ~ScopedEnvFile() {
        unsetenv(name);
        std::remove(path.c_str());
    }
    std::vector<uint8_t> contents() const {
        std::ifstream in(path, std::ios::binary);
        return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
    }

    const char* name;
    std::string path;
};
