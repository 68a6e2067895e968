// The host track: which records it plays, its pacing, and the record of what it played.
#include "HostAudioTestUtil.h"
#include "KxAudioSetting.h"
#include "KxAudioTrack.h"
#include "ReaderBytes.h"
#ifdef HOSTAUDIO_WITH_ALSA
#include "AlsaTrack.h"
#endif

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
    for (int32_t n; done < length && (n = track.write(data + done, length - done, 1)) >= 0;) done += n;
    return done;
}

TEST(HostTrack, AcceptsOnlyKnownPcmOnMain) {
    const audio::audio_codec_parameter_t good = pcmRecord(48000, 0x3, 2, 4);
    EXPECT_NE(nullptr, makeTrack(good));
    EXPECT_EQ(nullptr, makeTrack(good, "hdmi"));
    EXPECT_EQ(nullptr, KxAudioTrack::create("t", nullptr, &good, 1500));
    const auto spoiled = [&](void (*spoil)(audio::audio_codec_parameter_t&)) {
        audio::audio_codec_parameter_t p = good;
        spoil(p);
        return makeTrack(p);
    };
    EXPECT_EQ(nullptr, spoiled([](auto& p) { p.codecType = 0x200; }));
    EXPECT_EQ(nullptr, spoiled([](auto& p) { p.pcm.format = 4; }));
    EXPECT_EQ(nullptr, spoiled([](auto& p) { p.sampleRate = 0; }));
    EXPECT_EQ(nullptr, spoiled([](auto& p) { p.channelMap = 0; }));
    EXPECT_NE(nullptr, spoiled([](auto& p) { p.channelMap = 0, p.channels = 2; }));  // a count stands in for the mask

    audio::KxAudioSetting::Source* source = audio::KxAudioSetting::createSource();
    EXPECT_EQ(0, source->selectOutputSource("main", "RealtimeTrack"));
    testing::internal::CaptureStderr();
    EXPECT_NE(0, source->selectOutputSource("hdmi", "RealtimeTrack"));
    EXPECT_NE(0, source->selectOutputSource(nullptr, "RealtimeTrack"));
    EXPECT_EQ("hostaudio: no output hdmi for track RealtimeTrack\n"
              "hostaudio: no output (null) for track RealtimeTrack\n",
              testing::internal::GetCapturedStderr());
    audio::KxAudioSetting::destroy(source);
}

// Every byte played is recorded, tracks one after another adding to one record; an unpaced
// track takes ten seconds of audio at once.
TEST(HostTrack, PlaysAtTheRecordsRateOnlyWhileStarted) {
    ScopedEnvFile file("HOSTAUDIO_TRACK_FILE");
    TrackPtr t = makeTrack(pcmRecord(8000, 1, 1, 1));
    Bytes block(2400, 0x80);
    EXPECT_LT(t->write(block.data(), 16, 1), 0);
    ASSERT_EQ(0, t->clear());
    ASSERT_EQ(0, t->start());
    auto start = std::chrono::steady_clock::now();
    int32_t first = t->write(block.data(), 2048, 1);
    EXPECT_GT(first, 0);
    EXPECT_LT(first, 2048);  // the device buffer is far smaller than a block
    EXPECT_EQ(2400 - first, writeAll(*t, block.data() + first, 2400 - first));
    EXPECT_EQ(0, t->stop());
    double took = secondsSince(start);  // 2400 bytes are 0.3 s at 8000 bytes/s
    EXPECT_GT(took, 0.25);
    EXPECT_LT(took, 1.5);
    EXPECT_LT(t->write(block.data(), 16, 1), 0);

    setenv("HOSTAUDIO_TRACK_REALTIME", "0", 1);
    t = makeTrack(pcmRecord(8000, 1, 2, 2));
    unsetenv("HOSTAUDIO_TRACK_REALTIME");
    ASSERT_EQ(0, t->start());
    const Bytes tenSeconds = testsupport::pattern(160000, 5);
    start = std::chrono::steady_clock::now();
    EXPECT_EQ(160000, writeAll(*t, tenSeconds.data(), 160000));
    EXPECT_EQ(0, t->stop());
    EXPECT_LT(secondsSince(start), 1.0);
    t.reset();
    block.insert(block.end(), tenSeconds.begin(), tenSeconds.end());
    EXPECT_TRUE(file.contents() == block);
}

}  // namespace

#ifdef HOSTAUDIO_WITH_ALSA
// ALSA's "null" device takes what a sound card would; a device that does not open leaves the
// silent track, without a word from ALSA.
TEST(AlsaTrack, PlaysOnTheDeviceOrFallsBackQuietly) {
    const struct {
        const char* device;
        bool onDevice;
    } rows[] = {{"null", true}, {"hw:99", false}, {"", false}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.device);
        ScopedEnvFile file("HOSTAUDIO_TRACK_FILE");
        setenv("HOSTAUDIO_ALSA_DEVICE", row.device, 1);
        testing::internal::CaptureStderr();
        TrackPtr t = makeTrack(pcmRecord(8000, 0x3, 2, 4));
        unsetenv("HOSTAUDIO_ALSA_DEVICE");
        EXPECT_EQ("", testing::internal::GetCapturedStderr());
        ASSERT_NE(nullptr, t);
        EXPECT_EQ(row.onDevice, dynamic_cast<hostaudio::AlsaTrack*>(t.get()) != nullptr);
        EXPECT_LT(t->write(nullptr, 0, 1), 0);  // not started
        ASSERT_EQ(0, t->start());
        // Pieces that split frames: a frame's start waits for its rest.
        Bytes expected;
        for (int32_t length : {1, 2, 5, 1601, 3, 4, 0}) {
            Bytes block(static_cast<size_t>(length));
            for (size_t i = 0; i < block.size(); ++i) block[i] = uint8_t(expected.size() + i);
            EXPECT_EQ(length, writeAll(*t, block.data(), length));
            expected.insert(expected.end(), block.begin(), block.end());
        }
        EXPECT_EQ(0, t->stop());
        EXPECT_LT(t->write(expected.data(), 4, 1), 0);
        t.reset();
        EXPECT_TRUE(file.contents() == expected);
    }
}
#endif
