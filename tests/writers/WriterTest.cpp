#include <gtest/gtest.h>

#include <cstdlib>

#include "TestSupport.h"
#include "TrackWriter.h"
#include "WavAudioDataWriter.h"

using testsupport::captureStdout;
using testsupport::TempDir;

namespace {

AudioInfo pcmInfo(uint32_t rate, uint32_t channels, uint32_t bitDepth) {
    AudioInfo info{};
    info.sampleFrequency = rate;
    info.channelMap = channels;
    info.pcm.bitDepth = bitDepth;
    return info;
}

uint32_t le(const std::vector<uint8_t>& b, size_t at, int bytes) {
    uint32_t v = 0;
    for (int i = bytes - 1; i >= 0; --i) v = v << 8 | b[at + i];
    return v;
}

TEST(WavWriter, HeaderFieldsAndCompletedSizes) {
    struct Case {
        AudioInfo info;
        uint32_t pcmBytes;
        uint32_t channels, bytesPerSecond, blockAlign, bits;
    };
    const Case cases[] = {
        {pcmInfo(48000, 2, 16), 1000, 2, 192000, 4, 16},
        {pcmInfo(44100, 6, 32), 0, 0, 0, 0, 32},  // the header cannot express six channels
        {pcmInfo(8000, 1, 9), 3, 1, 8000, 1, 8},
    };
    for (const Case& c : cases) {
        TempDir dir;
        std::string path = dir.path("o.wav");
        std::vector<uint8_t> pcm(c.pcmBytes, 0x5A);
        {
            WavAudioDataWriter w(path.c_str(), &c.info, true);
            EXPECT_FALSE(w.isInvalid());
            FrameBuffer f;
            f.data = pcm.data();
            f.length = static_cast<int32_t>(pcm.size());
            EXPECT_EQ(f.length, w.write(&f));
        }
        std::vector<uint8_t> b = testsupport::readFile(path);
        ASSERT_EQ(44u + c.pcmBytes, b.size());
        EXPECT_EQ(0, memcmp(b.data(), "RIFF", 4));
        EXPECT_EQ(36 + c.pcmBytes, le(b, 4, 4));
        EXPECT_EQ(0, memcmp(b.data() + 8, "WAVEfmt ", 8));
        EXPECT_EQ(16u, le(b, 16, 4));
        EXPECT_EQ(1u, le(b, 20, 2));
        EXPECT_EQ(c.channels, le(b, 22, 2));
        EXPECT_EQ(c.info.sampleFrequency, le(b, 24, 4));
        EXPECT_EQ(c.bytesPerSecond, le(b, 28, 4));
        EXPECT_EQ(c.blockAlign, le(b, 32, 2));
        EXPECT_EQ(c.bits, le(b, 34, 2));
        EXPECT_EQ(0, memcmp(b.data() + 36, "data", 4));
        EXPECT_EQ(c.pcmBytes, le(b, 40, 4));
    }
}

TEST(WavWriter, RawOutputAndFailedWrites) {
    TempDir dir;
    std::string path = dir.path("o.pcm");
    AudioInfo info = pcmInfo(48000, 2, 16);
    uint8_t bytes[5] = {1, 2, 3, 4, 5};
    FrameBuffer f;
    f.data = bytes;
    f.length = 5;
    {
        WavAudioDataWriter w(path.c_str(), &info, false);
        EXPECT_EQ(5, w.write(&f));
        EXPECT_EQ(5, w.write(&f));
    }
    EXPECT_EQ(10u, testsupport::readFile(path).size());

    // Even a small write fails at once, with nothing written: no buffer hides it until a flush.
    // The header that could not be completed fails the finish.
    std::string out = captureStdout([&] {
        WavAudioDataWriter w("/dev/full", &info, true);
        EXPECT_EQ(0, w.write(&f));
        EXPECT_FALSE(w.finish());
        EXPECT_FALSE(w.finish());
    });
    EXPECT_EQ("[AST][ERR]Failed to write:0.\n[AST][ERR]Failed to write:0.\n[AST][ERR]Failed to write:0.\n", out);
}

TEST(TrackWriter, PlaysEveryByteOnTheHostTrack) {
    TempDir dir;
    std::string played = dir.path("track.bin");
    setenv("HOSTAUDIO_TRACK_FILE", played.c_str(), 1);
    setenv("HOSTAUDIO_TRACK_REALTIME", "0", 1);
    std::vector<uint8_t> pcm = testsupport::sinePcm(44100, 2, 16, 3000);
    AudioInfo info = pcmInfo(44100, 2, 16);
    std::string out = captureStdout([&] {
        TrackWriter w(&info);
        EXPECT_FALSE(w.isInvalid());
        FrameBuffer f;
        f.data = pcm.data();
        f.length = static_cast<int32_t>(pcm.size());
        EXPECT_EQ(f.length, w.write(&f));
        f.length = 0;
        EXPECT_EQ(0, w.write(&f));
    });
    unsetenv("HOSTAUDIO_TRACK_FILE");
    unsetenv("HOSTAUDIO_TRACK_REALTIME");
    EXPECT_EQ("", out);
    EXPECT_TRUE(pcm == testsupport::readFile(played));
}

TEST(TrackWriter, ATrackThatCannotBeCreatedTakesNothing) {
    AudioInfo info = pcmInfo(44100, 0, 16);  // no channels: the service refuses it
    std::string out = captureStdout([&] {
        TrackWriter w(&info);
        EXPECT_TRUE(w.isInvalid());
        uint8_t b[4] = {};
        FrameBuffer f;
        f.data = b;
        f.length = 4;
        EXPECT_EQ(0, w.write(&f));
    });
    EXPECT_EQ("[AST][ERR]Failed to create audio track(RealtimeTrack).\n", out);
}

}  // namespace
