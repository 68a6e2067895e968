#include <gtest/gtest.h>

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

// The header's sizes are completed on close; what the header cannot express is written as 0.
// Plain mono and stereo headers and raw output are checked end to end.
TEST(WavWriter, HeaderFieldsAndCompletedSizes) {
    const struct {
        AudioInfo info;
        uint32_t pcmBytes;
        testsupport::WavLayout header;
    } cases[] = {
        {pcmInfo(44100, 6, 32), 0, {44100, 0, 32, 0, false}},  // six channels: no count, byte rate or block alignment
        {pcmInfo(8000, 1, 9), 3, {8000, 1, 8, 0, false}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.info.channelMap);
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
        EXPECT_TRUE(testsupport::wavFile(c.header, pcm) == testsupport::readFile(path));
    }
}

TEST(WavWriter, FailedWrites) {
    AudioInfo info = pcmInfo(48000, 2, 16);
    uint8_t bytes[5] = {1, 2, 3, 4, 5};
    FrameBuffer f;
    f.data = bytes;
    f.length = 5;
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

// Playing every byte on the track is checked end to end.
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
