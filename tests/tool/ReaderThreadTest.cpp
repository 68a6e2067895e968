#include <gtest/gtest.h>

#include <atomic>
#include <unistd.h>

#include "KxAudioDecoder.h"
#include "ReaderThread.h"
#include "TestSupport.h"

namespace {

// A decoder that never has PCM. Draining real PCM into a file is checked end to end.
class SilentDecoder : public audio::KxAudioDecoder {
public:
    int32_t writeData(const uint8_t*, int32_t length, int32_t) override { return length; }
    int32_t setEndOfStream() override { return 0; }
    int32_t readData(uint8_t*, int32_t, int32_t) override {
        ++reads;
        return 0;
    }
    int32_t isFinished() override { return 1; }
    int32_t getOutputParameter(audio::audio_codec_parameter_t*) override { return 0; }
    int32_t flush() override { return 0; }
    int32_t reset() override { return 0; }
    std::atomic<int> reads{0};
};

TEST(ReaderThread, NoPcmNoWriterAndAWarningEveryElevenEmptyReads) {
    testsupport::TempDir dir;
    std::string path = dir.path("never.pcm");
    SilentDecoder decoder;
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
