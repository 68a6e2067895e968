#include <gtest/gtest.h>

#include <cstring>

#include "ASTDataAccess.h"
#include "TestSupport.h"
#include "WavAudioDataReader.h"

using testsupport::captureStdout;
using testsupport::TempDir;
using testsupport::WavLayout;

namespace {

TEST(FrameBuffer, ReserveGrowsKeepsAndReleases) {
    FrameBuffer f;
    EXPECT_TRUE(f.reserve(0));
    EXPECT_EQ(nullptr, f.data);
    ASSERT_TRUE(f.reserve(4));
    memcpy(f.data, "abcd", 4);
    f.length = 4;
    uint8_t* block = f.data;
    EXPECT_TRUE(f.reserve(3));  // no bigger: same block, contents kept, length reset
    EXPECT_EQ(block, f.data);
    EXPECT_EQ(0, f.length);
    EXPECT_EQ(4, f.capacity);
    ASSERT_TRUE(f.reserve(100));
    EXPECT_EQ(100, f.capacity);
    EXPECT_EQ(0, memcmp(f.data, "abcd", 4));
    EXPECT_TRUE(f.reserve(-1));
    EXPECT_EQ(nullptr, f.data);
    EXPECT_EQ(0, f.capacity);
}

// Exposes the base class's mapping slots.
class BareReader : public AudioDataReader {
public:
    BareReader() : AudioDataReader(nullptr) {}
    FrameBuffer* readFrame() override { return &mFrame; }
    bool open() { return mAccess->isOpen(); }
};

TEST(Reader, BaseMappingAndNullPath) {
    BareReader r;
    EXPECT_TRUE(r.isInvalid());
    EXPECT_FALSE(r.open());
    EXPECT_EQ(4096, r.getFrameLength());
    for (uint8_t code : {0, 3, 255}) {
        r.mapChannel(code);
        EXPECT_EQ(0u, r.getAudioInfo()->channelMap);
    }
    r.mapChannel(2);
    EXPECT_EQ(2u, r.getAudioInfo()->channelMap);
    r.mapSampleRate(0);
    EXPECT_EQ(0u, r.getAudioInfo()->sampleFrequency);
    r.mapSampleRate(12345);
    EXPECT_EQ(12345u, r.getAudioInfo()->sampleFrequency);
}

TEST(WavReader, FieldsFrameLengthsAndTheShortLastFrame) {
    struct Case {
        WavLayout layout;
        int32_t frameLength;
    };
    const Case cases[] = {
        {{44100, 2, 16, 0, false}, 3528},
        {{48000, 2, 16, 2, false}, 3840},
        {{8000, 1, 8, 0, false}, 160},
        {{96000, 2, 32, 0, false}, 15360},
    };
    AudioInfo raw{};
    for (const Case& c : cases) {
        TempDir dir;
        std::vector<uint8_t> pcm = testsupport::sinePcm(c.layout.rate, c.layout.channels, c.layout.bitsPerSample, 1000);
        std::string path = dir.path("a.wav");
        testsupport::writeFile(path, testsupport::wavFile(c.layout, pcm));
        captureStdout([&] {
            WavAudioDataReader reader(path.c_str(), &raw, 20);
            ASSERT_FALSE(reader.isInvalid());
            const AudioInfo* info = reader.getAudioInfo();
            EXPECT_EQ(c.layout.rate, info->sampleFrequency);
            EXPECT_EQ(c.layout.channels, info->channelMap);
            EXPECT_EQ(c.layout.bitsPerSample, info->pcm.bitDepth);
            EXPECT_EQ(c.layout.channels * c.layout.bitsPerSample / 8, info->pcm.blockAlign);
            EXPECT_EQ(c.frameLength, reader.getFrameLength());
            std::vector<uint8_t> all;
            for (FrameBuffer* f = reader.readFrame(); f->length > 0; f = reader.readFrame()) {
                EXPECT_LE(f->length, c.frameLength);
                all.insert(all.end(), f->data, f->data + f->length);
            }
            EXPECT_TRUE(pcm == all);
        });
    }
}

TEST(WavReader, MissingFileStaysInvalid) {
    AudioInfo raw{};
    std::string out = captureStdout([&] {
        WavAudioDataReader reader("/nonexistent/a.wav", &raw, 20);
        EXPECT_TRUE(reader.isInvalid());
    });
    EXPECT_EQ("[AST][ERR]Failed to open file '/nonexistent/a.wav'.\n", out);
}

TEST(WavReader, RawPcmTakesTheGivenInfoWhole) {
    TempDir dir;
    std::string path = dir.path("x.pcm");
    testsupport::writeFile(path, std::vector<uint8_t>(1000, 0x80));
    AudioInfo raw{};
    raw.sampleFrequency = 8000;
    raw.channelMap = 5;  // taken as it is, not mapped
    raw.pcm.bitDepth = 8;
    raw.pcm.blockAlign = 77;
    captureStdout([&] {
        WavAudioDataReader reader(path.c_str(), &raw, 20);
        EXPECT_EQ(0, memcmp(&raw, reader.getAudioInfo(), sizeof(raw)));
        EXPECT_EQ(0, reader.getFrameLength());  // five channels cannot be framed
        EXPECT_EQ(0, reader.readFrame()->length);
    });
}

}  // namespace
