// The WMA adapter (2048) behind the service's decoder, on payloads cut from an ffmpeg-made file.
#include <gtest/gtest.h>

#include <algorithm>

#include "KxAudioDecoder.h"
#include "Reference.h"
#include "TestSupport.h"

using audio::KxAudioDecoder;
using Bytes = std::vector<uint8_t>;

namespace {

audio::audio_codec_parameter_t wmaRecord(int32_t rate, uint32_t mask, uint16_t blockAlign) {
    audio::audio_codec_parameter_t r{};
    r.codecType = audio::AUDIO_CODEC_WMA;
    r.sampleRate = rate;
    r.channelMap = mask;
    r.wma = {16, blockAlign, 16000, 0, 1};
    return r;
}

Bytes unit(uint8_t object, const uint8_t* data, size_t n) {
    Bytes u(8 + n);
    const uint8_t prefix[8] = {0x55, 0x55, 0xAA, 0xAA, object, 8, static_cast<uint8_t>(n >> 8), static_cast<uint8_t>(n)};
    std::copy(prefix, prefix + 8, u.begin());
    std::copy(data, data + n, u.begin() + 8);
    return u;
}

struct Decoded {
    Bytes pcm;
    std::string err;
};

// Less than the second of audio the decoder holds, so no reader thread is needed.
Decoded decode(const audio::audio_codec_parameter_t& record, const std::vector<Bytes>& units) {
    Decoded run;
    KxAudioDecoder* d = KxAudioDecoder::create(&record);
    if (d == nullptr) return run;
    testing::internal::CaptureStderr();
    for (const Bytes& u : units) EXPECT_EQ(int32_t(u.size()), d->writeData(u.data(), int32_t(u.size()), 1));
    d->setEndOfStream();
    uint8_t buffer[4096];
    for (int32_t n; (n = d->readData(buffer, sizeof buffer, 0)) > 0;) run.pcm.insert(run.pcm.end(), buffer, buffer + n);
    run.err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(1, d->isFinished());
    KxAudioDecoder::destroy(d);
    return run;
}

TEST(WmaAdapter, JoinsPayloadsIntoMediaObjects) {
    testsupport::TempDir dir;
    std::string file = dir.path("a.wma"), objects = dir.path("a.bin");
    ASSERT_TRUE(testsupport::shell("ffmpeg -nostdin -y -f lavfi -i sine=frequency=500:duration=0.4 -ac 2 -c:a wmav2 "
                                   "-b:a 128k -f asf '" + file + "' && ffmpeg -nostdin -y -i '" + file +
                                   "' -map 0:a -c copy -f data '" + objects + "'"));
    // The block alignment stands in the Stream Properties Object, 90 bytes after its GUID.
    const Bytes asf = testsupport::readFile(file);
    const uint8_t streamProperties[4] = {0x91, 0x07, 0xDC, 0xB7};
    auto spo = std::search(asf.begin(), asf.end(), streamProperties, streamProperties + 4);
    ASSERT_LT(spo + 92, asf.end());
    size_t blockAlign = size_t(spo[90]) | size_t(spo[91]) << 8;
    const Bytes all = testsupport::readFile(objects);
    ASSERT_GT(blockAlign, 300u);
    ASSERT_EQ(0u, all.size() % blockAlign);

    std::vector<Bytes> whole, split, damaged;
    for (size_t at = 0, object = 1; at < all.size(); at += blockAlign, ++object) {
        uint8_t n = static_cast<uint8_t>(object);
        whole.push_back(unit(n, &all[at], blockAlign));
        split.push_back(unit(n, &all[at], 300));
        split.push_back(unit(n, &all[at + 300], blockAlign - 300));
        if (object != 3) damaged.push_back(split[split.size() - 2]);
        damaged.push_back(split.back());
    }
    damaged.insert(damaged.begin() + 1, Bytes(20, 0x55));
    damaged[2][7] ^= 1;  // the prefix's length no longer matches

    audio::audio_codec_parameter_t record = wmaRecord(44100, 0x3, static_cast<uint16_t>(blockAlign));
    Decoded a = decode(record, whole), b = decode(record, split), c = decode(record, damaged);
    EXPECT_EQ("", a.err);
    EXPECT_FALSE(a.pcm.empty());
    EXPECT_TRUE(a.pcm == b.pcm);
    EXPECT_EQ("", b.err);
    EXPECT_NE(std::string::npos, c.err.find("unit 2: a unit of 20 bytes without the WMA frame prefix")) << c.err;
    const std::string n = std::to_string(blockAlign), rest = std::to_string(blockAlign - 300);
    EXPECT_NE(std::string::npos, c.err.find("unit 3: the frame prefix says " + std::to_string((blockAlign - 300) ^ 1) +
                                            " payload bytes, the unit carries " + rest + "\n"));
    EXPECT_NE(std::string::npos, c.err.find("media object 1 ends after 300 of " + n + " bytes; dropped\n"));
    EXPECT_NE(std::string::npos, c.err.find("media object 3 ends after " + rest + " of " + n + " bytes; dropped\n"));
    EXPECT_LT(c.pcm.size(), a.pcm.size());
}

TEST(WmaAdapter, RefusesRecordsItCannotDecode) {
    for (const audio::audio_codec_parameter_t& r : {wmaRecord(44100, 0x3F, 743), wmaRecord(44100, 0, 743),
                                                   wmaRecord(44100, 0x3, 0), wmaRecord(0, 0x3, 743)}) {
        testing::internal::CaptureStderr();
        EXPECT_EQ(nullptr, KxAudioDecoder::create(&r));
        EXPECT_NE(std::string::npos, testing::internal::GetCapturedStderr().find("not supported"));
    }
}

}  // namespace
