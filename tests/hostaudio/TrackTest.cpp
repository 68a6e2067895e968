#include <gtest/gtest.h>

#include <functional>

#include "HostAudioTestUtil.h"
#include "KxAudioSetting.h"
#include "KxAudioTrack.h"

using audio::KxAudioTrack;

namespace {

using TrackPtr = std::unique_ptr<KxAudioTrack, void (*)(KxAudioTrack*)>;

TrackPtr makeTrack(const audio::audio_codec_parameter_t& p, const char* output = "main") {
    uint32_t byteCount = uint32_t(p.pcm.bytesPerSecond) >> 7;
    return TrackPtr(KxAudioTrack::create("RealtimeTrack", output, &p, byteCount), &KxAudioTrack::destroy);
}

// Retries short writes as the tool does; returns what was taken.
int32_t writeAll(KxAudioTrack& track, const uint8_t* data, int32_t length) {
    int32_t done = 0;
    int32_t n;
    while (done < length && (n = track.write(data + done, length - done, 1)) >= 0) {
        done += n;
    }
    return done;
}

TEST(HostTrack, AcceptsOnlyKnownPcmOnMain) {
    const audio::audio_codec_parameter_t good = pcmRecord(48000, 0x3, 2, 4);
    EXPECT_NE(makeTrack(good), nullptr);
    EXPECT_EQ(makeTrack(good, "hdmi"), nullptr);
    EXPECT_EQ(KxAudioTrack::create("t", nullptr, &good, 1500), nullptr);
    const std::function<void(audio::audio_codec_parameter_t&)> spoilers[] = {
        [](auto& p) { p.codecType = 0x200; }, [](auto& p) { p.pcm.format = 4; },
        [](auto& p) { p.pcm.format = 16; },   [](auto& p) { p.sampleRate = 0; },
        [](auto& p) { p.channelMap = 0; },
    };
    for (const auto& spoil : spoilers) {
        audio::audio_codec_parameter_t p = good;
        spoil(p);
        EXPECT_EQ(makeTrack(p), nullptr);
    }
    audio::audio_codec_parameter_t counted = good;
    counted.channelMap = 0;
    counted.channels = 2;  // a count stands in for the mask
    EXPECT_NE(makeTrack(counted), nullptr);
}

TEST(HostTrack, PlaysAtTheRecordsRateOnlyWhileStarted) {
    TrackPtr t = makeTrack(pcmRecord(8000, 1, 1, 1));
    std::vector<uint8_t> block(2400, 0x80);
    EXPECT_LT(t->write(block.data(), 16, 1), 0);
    ASSERT_EQ(t->clear(), 0);
    ASSERT_EQ(t->start(), 0);
    auto start = std::chrono::steady_clock::now();
    int32_t first = t->write(block.data(), 2048, 1);
    EXPECT_GT(first, 0);
    EXPECT_LT(first, 2048);  // the device buffer is far smaller than a block
    EXPECT_EQ(writeAll(*t, block.data() + first, 2400 - first), 2400 - first);
    EXPECT_EQ(t->stop(), 0);
    double took = secondsSince(start);  // 2400 bytes are 0.3 s at 8000 bytes/s
    EXPECT_GT(took, 0.25);
    EXPECT_LT(took, 1.5);
    EXPECT_LT(t->write(block.data(), 16, 1), 0);
}

// The second track is not paced: ten seconds of audio go in at once.
TEST(HostTrack, RecordsPlayedBytesAcrossTracks) {
    ScopedEnvFile file("HOSTAUDIO_TRACK_FILE");
    std::vector<uint8_t> expected;
    for (int32_t length : {3000, 160000}) {
        if (length > 3000) {
            setenv("HOSTAUDIO_TRACK_REALTIME", "0", 1);
        }
        TrackPtr t = makeTrack(pcmRecord(8000, 1, 2, 2));
        unsetenv("HOSTAUDIO_TRACK_REALTIME");
        ASSERT_EQ(t->start(), 0);
        std::vector<uint8_t> block(size_t(length), uint8_t(length / 1000));
        block[0] = 0;
        auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(writeAll(*t, block.data(), length), length);
        EXPECT_EQ(t->stop(), 0);
        EXPECT_LT(secondsSince(start), 1.0);
        expected.insert(expected.end(), block.begin(), block.end());
    }
    EXPECT_TRUE(file.contents() == expected);
}

TEST(HostSetting, RoutesOnlyToMain) {
    audio::KxAudioSetting::Source* source = audio::KxAudioSetting::createSource();
    ASSERT_NE(source, nullptr);
    EXPECT_EQ(source->selectOutputSource("main", "RealtimeTrack"), 0);
    EXPECT_NE(source->selectOutputSource("hdmi", "RealtimeTrack"), 0);
    EXPECT_NE(source->selectOutputSource(nullptr, "RealtimeTrack"), 0);
    audio::KxAudioSetting::destroy(source);
}

}  // namespace
