#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

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

uint64_t le(const std::vector<uint8_t>& b, size_t at, int n) {
    uint64_t v = 0;
    for (int i = n - 1; i >= 0; --i) v = v << 8 | b[at + size_t(i)];
    return v;
}

// An output moved past 4 GiB as a sparse file: with room in its header it becomes RF64 (its
// ds64 sizes 64-bit), without room its sizes say 0xFFFFFFFF; below the limit the room stays JUNK.
TEST(WavWriter, OutputsPast4GiB) {
    const off_t past = (off_t(1) << 32) + 100;
    const struct {
        bool room;
        off_t at;  // where the last block lands; 0: no move
        std::string line;
        uint64_t riff, data;  // the 32-bit sizes
        std::string magic;    // RIFF or RF64, and JUNK or ds64 behind WAVE (room only)
    } cases[] = {
        {true, 0, "", 72 + 4, 4, "RIFFJUNK"},
        {true, past, "[AST][INF]WAV output passed 4 GiB, its header is now RF64.\n", 0xFFFFFFFF, 0xFFFFFFFF,
         "RF64ds64"},
        {false, past, "[AST][WRN]WAV output passed 4 GiB without room for RF64, its sizes are set to 0xFFFFFFFF.\n",
         0xFFFFFFFF, 0xFFFFFFFF, "RIFF"},
    };
    AudioInfo info = pcmInfo(48000, 2, 16);
    uint8_t block[4] = {1, 2, 3, 4};
    FrameBuffer f;
    f.data = block;
    f.length = 4;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line);
        TempDir dir;
        const std::string path = dir.path("o.wav");
        std::string out = captureStdout([&] {
            const int fd = dup(0);  // the writer's descriptor is the lowest free one
            close(fd);
            WavAudioDataWriter w(path.c_str(), &info, true, c.room);
            if (c.at != 0) {
                ASSERT_EQ(c.at, lseek(fd, c.at, SEEK_SET));
            }
            EXPECT_EQ(4, w.write(&f));
            EXPECT_TRUE(w.finish());
        });
        EXPECT_EQ(c.line, out);
        const int header = c.room ? 80 : 44;
        const uint64_t length = uint64_t(c.at != 0 ? c.at : header) + 4;
        std::vector<uint8_t> h(header);
        int in = open(path.c_str(), O_RDONLY);
        ASSERT_EQ(header, pread(in, h.data(), size_t(header), 0));
        close(in);
        EXPECT_EQ(c.magic.substr(0, 4), std::string(h.begin(), h.begin() + 4));
        EXPECT_EQ(c.riff, le(h, 4, 4));
        EXPECT_EQ(c.data, le(h, size_t(header) - 4, 4));
        if (!c.room) continue;
        EXPECT_EQ(c.magic.substr(4), std::string(h.begin() + 12, h.begin() + 16));
        if (c.at == 0) continue;
        EXPECT_EQ(28u, le(h, 16, 4));
        EXPECT_EQ(length - 8, le(h, 20, 8));
        EXPECT_EQ(length - 80, le(h, 28, 8));
        EXPECT_EQ((length - 80) / 4, le(h, 36, 8));  // sample frames
        EXPECT_EQ(0u, le(h, 44, 4));
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
