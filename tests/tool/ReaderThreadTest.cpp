#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <mutex>
#include <unistd.h>

#include "KxAudioDecoder.h"
#include "ReaderThread.h"
#include "TestSupport.h"

namespace {

// Hands out a fixed PCM block in pieces, then nothing.
class ScriptedDecoder : public audio::KxAudioDecoder {
public:
    explicit ScriptedDecoder(std::vector<uint8_t> pcm) : mPcm(std::move(pcm)) {}
    ~ScriptedDecoder() override = default;
    int32_t writeData(const uint8_t*, int32_t length, int32_t) override { return length; }
    int32_t setEndOfStream() override { return 0; }
    int32_t readData(uint8_t* buffer, int32_t capacity, int32_t) override {
        std::lock_guard<std::mutex> lock(mMutex);
        ++reads;
        size_t n = std::min<size_t>({static_cast<size_t>(capacity), mPcm.size() - mAt, 1000});
        if (n > 0) memcpy(buffer, mPcm.data() + mAt, n);
        mAt += n;
        return static_cast<int32_t>(n);
    }
    int32_t isFinished() override { return 1; }
    int32_t getOutputParameter(audio::audio_codec_parameter_t* p) override {
        p->codecType = 256;
        p->sampleRate = 8000;
        p->channelMap = 0x1;
        p->pcm.format = 1;
        return 0;
    }
    int32_t flush() override { return 0; }
    int32_t reset() override { return 0; }
    bool drained() {
        std::lock_guard<std::mutex> lock(mMutex);
        return mAt == mPcm.size();
    }
    std::atomic<int> reads{0};

private:
    std::mutex mMutex;
    std::vector<uint8_t> mPcm;
    size_t mAt = 0;
};

TEST(ReaderThread, DrainsIntoAWavFileFromTheOutputDescription) {
    testsupport::TempDir dir;
    std::string path = dir.path("o.wav");
    std::vector<uint8_t> pcm = testsupport::sinePcm(8000, 1, 8, 5555);
    ScriptedDecoder decoder(pcm);
    std::string out = testsupport::captureStdout([&] {
        ReaderThread thread("ASTDecoder-ReaderThread", 50);
        thread.setDecoder(&decoder);
        thread.setIsWav(true);
        thread.setSavePath(path.c_str());
        ASSERT_TRUE(thread.start());
        while (!decoder.drained()) usleep(1000);
        thread.stopAndJoin();
    });
    testsupport::WavLayout layout{8000, 1, 8, 0, false};
    EXPECT_TRUE(testsupport::wavFile(layout, pcm) == testsupport::readFile(path));
    EXPECT_NE(std::string::npos,
              out.find("[AST][INF]Encode params:codec=256 sampleRate=8000 chanels=0 channelMap=1 pcm.format=1.\n"));
}

TEST(ReaderThread, NoPcmNoWriterAndAWarningEveryElevenEmptyReads) {
    testsupport::TempDir dir;
    std::string path = dir.path("never.pcm");
    ScriptedDecoder decoder({});
    std::string out = testsupport::captureStdout([&] {
        ReaderThread thread("t", 50);
        thread.setDecoder(&decoder);
        thread.setSavePath(path.c_str());
        ASSERT_TRUE(thread.start());
        while (decoder.reads < 34) usleep(1000);
        thread.stopAndJoin();
    });
    const std::string warning = "[AST][WRN]Failed to read PCM data.\n";
    size_t warnings = 0;
    for (size_t at = out.find(warning); at != std::string::npos; at = out.find(warning, at + 1)) ++warnings;
    // The count runs on from earlier threads of the process, so the first warning may come early.
    EXPECT_LE(static_cast<size_t>(decoder.reads / 11), warnings);
    EXPECT_GE(static_cast<size_t>(decoder.reads / 11) + 1, warnings);
    EXPECT_EQ(-1, access(path.c_str(), F_OK));
}

}  // namespace
