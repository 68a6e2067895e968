// The host decoder's own behaviour, on PCM that passes through: what it refuses, how much it
// holds, when it finishes or drops audio, and what it records.
#include <algorithm>
#include <random>

#include "HostAudioTestUtil.h"

using audio::KxAudioDecoder;

namespace {

// 8000 Hz mono 8-bit: one second, and so the held-audio limit, is 8000 bytes.
constexpr int32_t kLimit = 8000;

using DecoderPtr = std::unique_ptr<KxAudioDecoder, void (*)(KxAudioDecoder*)>;

DecoderPtr makeDecoder(const audio::audio_codec_parameter_t& p = pcmRecord(8000, 1, 1, 1)) {
    return DecoderPtr(KxAudioDecoder::create(&p), &KxAudioDecoder::destroy);
}

Bytes pattern(size_t n, uint32_t seed) {
    Bytes bytes(n);
    std::generate(bytes.begin(), bytes.end(), std::mt19937(seed));
    return bytes;
}

TEST(HostDecoder, RefusesRecordsItCannotDecode) {
    EXPECT_EQ(nullptr, KxAudioDecoder::create(nullptr));
    audio::audio_codec_parameter_t layer4 = codecRecord(audio::AUDIO_CODEC_MPEG, 44100, 3);
    layer4.mpeg.layer = 3;
    const struct {
        audio::audio_codec_parameter_t record;
        std::string problem;
    } cases[] = {
        {codecRecord(audio::AUDIO_CODEC_AUX, 44100, 3), "no decoder for codec type 1024"},
        {layer4, "codec type 512: this input is not supported"},
        {wmaRecord(44100, 0x3F, 743), "codec type 2048: this input is not supported"},  // only mono and stereo
        {wmaRecord(44100, 0, 743), "codec type 2048: this input is not supported"},
        {wmaRecord(44100, 0x3, 0), "codec type 2048: this input is not supported"},
        {wmaRecord(0, 0x3, 743), "codec type 2048: this input is not supported"},
    };
    for (const auto& c : cases) {
        testing::internal::CaptureStderr();
        EXPECT_EQ(nullptr, KxAudioDecoder::create(&c.record)) << c.problem;
        EXPECT_EQ("hostaudio: " + c.problem + "\n", testing::internal::GetCapturedStderr());
    }
    // Whatever else a PCM record holds, the decoder passes it through.
    EXPECT_NE(nullptr, makeDecoder(pcmRecord(0, 0, 99, -5)));
}

// The writer waits while a second of audio is held, whatever the unit and read sizes, and for a
// reader that pauses longer than any timeout (a slow output, a stopped process); every byte
// comes out in order, and the decoder is not finished before the stream has ended and every
// byte has been read.
TEST(HostDecoder, HoldsAtMostOneSecondAndPassesEveryByteThrough) {
    DecoderPtr d = makeDecoder();
    const Bytes input = pattern(200000, 1);
    std::thread writer([&] {
        std::mt19937 gen(3);
        // One unit far over the limit first, then short ones.
        for (size_t pos = 0, unit = 20000; pos < input.size(); pos += unit, unit = 1 + gen() % 5000) {
            unit = std::min(unit, input.size() - pos);
            EXPECT_EQ(int32_t(unit), d->writeData(input.data() + pos, int32_t(unit), 1));
        }
        d->setEndOfStream();
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    Bytes output(65536);
    ASSERT_EQ(kLimit, d->readData(output.data(), int32_t(output.size()), 0));
    output.resize(kLimit);
    std::this_thread::sleep_for(std::chrono::seconds(3));
    std::mt19937 gen(2);
    while (!d->isFinished()) {
        Bytes buf(1 + gen() % 10000);  // exact size: ASan catches an overrun
        int32_t n = d->readData(buf.data(), int32_t(buf.size()), 0);
        EXPECT_LE(n, kLimit);
        output.insert(output.end(), buf.begin(), buf.begin() + std::max(n, 0));
        if (n <= 0) std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    writer.join();
    EXPECT_TRUE(output == input);
}

// Once the thread that read has ended, the rest is dropped, counted once, and the stream finishes.
TEST(HostDecoder, DropsAndCountsWhatIsLeftOnceTheReaderThreadEnds) {
    DecoderPtr d = makeDecoder();
    const Bytes input = pattern(40000, 7);  // five times what it holds
    Bytes got(4096);
    std::thread reader([&] {
        for (size_t n = 0; n < got.size();) n += size_t(std::max(0, d->readData(&got[n], int32_t(got.size() - n), 0)));
    });
    testing::internal::CaptureStderr();
    for (size_t at = 0; at < input.size(); at += 1000) EXPECT_EQ(1000, d->writeData(input.data() + at, 1000, 1));
    d->setEndOfStream();
    reader.join();
    const auto start = std::chrono::steady_clock::now();
    while (d->isFinished() == 0 && secondsSince(start) < 10) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    EXPECT_EQ(1, d->isFinished());
    EXPECT_TRUE(std::equal(got.begin(), got.end(), input.begin()));
    EXPECT_EQ("hostaudio: the thread reading the decoder has ended: 35904 bytes of decoded audio dropped\n",
              testing::internal::GetCapturedStderr());
}

// Each unit it takes is recorded as its length (4 bytes, little-endian) and its bytes, empty
// ones too; a new decoder starts a new record. The record's layout and the output parameters
// of PCM are checked end to end.
TEST(HostDecoder, RecordsTheUnitsItTakes) {
    ScopedEnvFile file("HOSTAUDIO_UNITS_FILE");
    DecoderPtr d = makeDecoder();
    EXPECT_NE(0, d->getOutputParameter(nullptr));
    const uint8_t unit[3] = {0xA1, 0xA2, 0xA3};
    EXPECT_EQ(3, d->writeData(unit, 3, 1));
    EXPECT_EQ(-1, d->writeData(nullptr, 4, 1));
    EXPECT_EQ(-1, d->writeData(unit, -1, 1));
    EXPECT_EQ(0, d->writeData(unit, 0, 1));
    EXPECT_EQ(-1, d->readData(nullptr, 4, 0));
    d.reset();
    EXPECT_TRUE(file.contents() == Bytes({3, 0, 0, 0, 0xA1, 0xA2, 0xA3, 0, 0, 0, 0}));
    d = makeDecoder();
    d->writeData(unit, 1, 1);
    d.reset();
    EXPECT_TRUE(file.contents() == Bytes({1, 0, 0, 0, 0xA1}));
}

}  // namespace
