#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <random>
#include <thread>

#include "HostAudioTestUtil.h"
#include "KxAudioDecoder.h"

using audio::KxAudioDecoder;

namespace {

// 8000 Hz mono 8-bit: one second, and so the held-audio limit, is 8000 bytes.
constexpr int32_t kSlowLimit = 8000;

using DecoderPtr = std::unique_ptr<KxAudioDecoder, void (*)(KxAudioDecoder*)>;

DecoderPtr makeDecoder(const audio::audio_codec_parameter_t& p) {
    return DecoderPtr(KxAudioDecoder::create(&p), &KxAudioDecoder::destroy);
}

std::vector<uint8_t> pattern(size_t n, uint32_t seed) {
    std::vector<uint8_t> bytes(n);
    std::generate(bytes.begin(), bytes.end(), std::mt19937(seed));
    return bytes;
}

TEST(HostDecoder, CreatesOnlyKnownFormats) {
    EXPECT_EQ(KxAudioDecoder::create(nullptr), nullptr);
    for (int32_t code : {0x400, 0x500, 0xFFFF, 0x1234, -1}) {
        audio::audio_codec_parameter_t p = pcmRecord(44100, 3, 2, 4);
        p.codecType = code;
        EXPECT_EQ(KxAudioDecoder::create(&p), nullptr) << code;
    }
    // Whatever else a PCM record holds, the decoder still passes it through.
    EXPECT_NE(makeDecoder(pcmRecord(0, 0, 99, -5)), nullptr);
}

TEST(HostDecoder, OutputDescribesTheInputPcm) {
    audio::audio_codec_parameter_t in = pcmRecord(44100, 0x3, 2, 4);
    in.channels = 2;
    DecoderPtr d = makeDecoder(in);
    audio::audio_codec_parameter_t out;
    std::memset(&out, 0xFF, sizeof out);
    ASSERT_EQ(d->getOutputParameter(&out), 0);
    EXPECT_EQ(std::memcmp(&out, &in, sizeof out), 0);
    EXPECT_NE(d->getOutputParameter(nullptr), 0);

    uint8_t b[4] = {1, 2, 3, 4};
    EXPECT_EQ(d->writeData(nullptr, 4, 1), -1);
    EXPECT_EQ(d->writeData(b, -1, 1), -1);
    EXPECT_EQ(d->writeData(b, 0, 1), 0);
}

TEST(HostDecoder, PassesPcmThroughToAConcurrentReader) {
    DecoderPtr d = makeDecoder(pcmRecord(48000, 0x3, 2, 4));
    const std::vector<uint8_t> input = pattern(600000, 1);
    std::vector<uint8_t> output;
    std::atomic<bool> stop{false};
    std::thread reader([&] {
        std::mt19937 gen(2);
        while (!stop.load()) {
            std::vector<uint8_t> buf(1 + gen() % 4096);  // exact size: ASan catches an overrun
            int32_t n = d->readData(buf.data(), int32_t(buf.size()), 0);
            if (n > 0) {
                output.insert(output.end(), buf.begin(), buf.begin() + n);
            } else {
                std::this_thread::sleep_for(std::chrono::microseconds(200));
            }
        }
    });
    std::mt19937 gen(3);
    for (size_t pos = 0; pos < input.size();) {
        int32_t unit = int32_t(std::min<size_t>(1 + gen() % 5000, input.size() - pos));
        EXPECT_EQ(d->writeData(input.data() + pos, unit, 1), unit);
        pos += size_t(unit);
    }
    d->setEndOfStream();
    for (int i = 0; i < 10000 && !d->isFinished(); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    stop = true;
    reader.join();
    EXPECT_TRUE(output == input);
}

// Every read takes all that is held, so no read may see more than the limit.
TEST(HostDecoder, SlowReaderHoldsBackTheWriter) {
    DecoderPtr d = makeDecoder(pcmRecord(8000, 1, 1, 1));
    const std::vector<uint8_t> input = pattern(30000, 5);
    std::atomic<bool> done{false};
    std::thread writer([&] {
        // One unit far over the limit, then small ones.
        EXPECT_EQ(d->writeData(input.data(), 20000, 1), 20000);
        EXPECT_EQ(d->writeData(input.data() + 20000, 1, 1), 1);
        EXPECT_EQ(d->writeData(input.data() + 20001, 9999, 1), 9999);
        done = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_FALSE(done.load());
    std::vector<uint8_t> output;
    std::vector<uint8_t> buf(65536);
    for (int i = 0; i < 500 && output.size() < input.size(); ++i) {
        int32_t n = d->readData(buf.data(), int32_t(buf.size()), 0);
        EXPECT_LE(n, kSlowLimit);
        if (output.empty()) {
            EXPECT_EQ(n, kSlowLimit);
        }
        output.insert(output.end(), buf.begin(), buf.begin() + std::max(n, 0));
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    writer.join();
    EXPECT_TRUE(output == input);
}

TEST(HostDecoder, FinishesOnlyAfterEndOfStreamAndEverythingRead) {
    DecoderPtr d = makeDecoder(pcmRecord(8000, 1, 1, 1));
    EXPECT_EQ(d->isFinished(), 0);
    const std::vector<uint8_t> input = pattern(100, 6);
    ASSERT_EQ(d->writeData(input.data(), 100, 1), 100);
    EXPECT_EQ(d->isFinished(), 0);
    d->setEndOfStream();
    uint8_t buf[100];
    EXPECT_EQ(d->readData(buf, 10, 0), 10);
    EXPECT_EQ(d->isFinished(), 0);
    EXPECT_EQ(d->readData(buf, 100, 0), 90);
    EXPECT_EQ(d->isFinished(), 1);
}

TEST(HostDecoder, UnreadAudioIsDroppedAfterTwoIdleSeconds) {
    DecoderPtr d = makeDecoder(pcmRecord(8000, 1, 1, 1));
    const std::vector<uint8_t> input = pattern(30000, 7);
    auto start = std::chrono::steady_clock::now();
    ASSERT_EQ(d->writeData(input.data(), int32_t(input.size()), 1), 30000);
    double waited = secondsSince(start);
    EXPECT_GE(waited, 1.9);
    EXPECT_LT(waited, 4.0);
    EXPECT_EQ(d->isFinished(), 0);  // idle, but the stream has not ended
    d->setEndOfStream();
    EXPECT_EQ(d->isFinished(), 1);
    uint8_t buf[16];
    EXPECT_EQ(d->readData(buf, sizeof buf, 0), 0);
}

TEST(HostDecoder, RecordsEveryUnitWithItsLength) {
    ScopedEnvFile file("HOSTAUDIO_UNITS_FILE");
    const uint8_t first[3] = {0xA1, 0xA2, 0xA3};
    const std::vector<uint8_t> second = pattern(300, 8);
    {
        DecoderPtr d = makeDecoder(pcmRecord(8000, 1, 1, 1));
        d->writeData(first, 3, 1);
        d->writeData(first, 0, 1);
        d->writeData(second.data(), 300, 1);
    }
    std::vector<uint8_t> expected = {3, 0, 0, 0, 0xA1, 0xA2, 0xA3, 0, 0, 0, 0, 0x2C, 0x01, 0, 0};
    expected.insert(expected.end(), second.begin(), second.end());
    EXPECT_TRUE(file.contents() == expected);

    // A new decoder starts a new record.
    DecoderPtr d = makeDecoder(pcmRecord(8000, 1, 1, 1));
    d->writeData(first, 1, 1);
    d.reset();
    EXPECT_TRUE(file.contents() == (std::vector<uint8_t>{1, 0, 0, 0, 0xA1}));
}

}  // namespace
