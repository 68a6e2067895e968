// Compressed decoding through the FFmpeg backend: units cut from files made by real encoders,
// the PCM checked against the ffmpeg command's decode of the same file.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "KxAudioDecoder.h"
#include "Reference.h"
#include "TestSupport.h"

using testsupport::TempDir;

namespace {

struct Decoded {
    std::vector<uint8_t> pcm;
    audio::audio_codec_parameter_t output{};
    bool outputKnown = false;
    std::string stderrText;
};

// Feeds the units on this thread while another thread drains, as the tool does.
Decoded decodeUnits(const audio::audio_codec_parameter_t& record, const std::vector<std::vector<uint8_t>>& units) {
    Decoded d;
    audio::KxAudioDecoder* decoder = audio::KxAudioDecoder::create(&record);
    if (decoder == nullptr) return d;
    std::atomic<bool> done{false};
    std::thread reader([&] {
        uint8_t buffer[2048];
        while (!done) {
            int32_t n = decoder->readData(buffer, sizeof buffer, 0);
            if (n > 0) {
                if (!d.outputKnown) d.outputKnown = decoder->getOutputParameter(&d.output) == 0;
                d.pcm.insert(d.pcm.end(), buffer, buffer + n);
            } else {
                std::this_thread::sleep_for(std::chrono::milliseconds(2));
            }
        }
    });
    testing::internal::CaptureStderr();
    for (const auto& unit : units)
        EXPECT_EQ(int32_t(unit.size()), decoder->writeData(unit.data(), int32_t(unit.size()), 1));
    decoder->setEndOfStream();
    while (!decoder->isFinished()) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    d.stderrText = testing::internal::GetCapturedStderr();
    done = true;
    reader.join();
    audio::KxAudioDecoder::destroy(decoder);
    return d;
}

// The file's frames as ffmpeg's demuxer finds them.
std::vector<std::vector<uint8_t>> framesOf(const std::string& file) {
    std::vector<uint8_t> bytes = testsupport::readFile(file);
    std::vector<std::vector<uint8_t>> frames;
    for (const testsupport::Packet& p : testsupport::ffprobePackets(file))
        frames.emplace_back(bytes.begin() + p.position, bytes.begin() + p.position + p.size);
    return frames;
}

audio::audio_codec_parameter_t record(int32_t codecType, int32_t rate, uint32_t mask, int32_t layer = 0) {
    audio::audio_codec_parameter_t r{};
    r.codecType = codecType;
    r.sampleRate = rate;
    r.channelMap = mask;
    if (codecType == audio::AUDIO_CODEC_MPEG) r.mpeg.layer = layer;
    return r;
}

struct Encoded {
    const char* label;
    const char* args;  // encoder and muxer
    const char* file;
    int32_t codecType;
    int32_t rate;
    int channels;
    int32_t layer;
};

TEST(FfmpegBackend, DecodesLikeTheFfmpegCommand) {
    const Encoded cases[] = {
        {"mp3 stereo", "-ar 44100 -ac 2 -c:a libmp3lame -b:a 128k", "a.mp3", 0x200, 44100, 2, 2},
        {"mp3 mpeg-2 mono", "-ar 22050 -ac 1 -c:a libmp3lame -b:a 32k", "b.mp3", 0x200, 22050, 1, 2},
        {"mp2", "-ar 48000 -ac 2 -c:a mp2 -b:a 192k -f mp2", "c.mp2", 0x200, 48000, 2, 1},
        {"adts", "-ar 44100 -ac 2 -c:a aac -b:a 128k -f adts", "d.aac", 0x300, 44100, 2, 0},
        {"adts 5.1", "-ar 48000 -ac 6 -c:a aac -f adts", "e.aac", 0x300, 48000, 6, 0},
        {"latm", "-ar 32000 -ac 1 -c:a aac -f latm", "f.latm", 0x300, 32000, 1, 0},
    };
    TempDir dir;
    for (const Encoded& c : cases) {
        SCOPED_TRACE(c.label);
        std::string file = dir.path(c.file);
        ASSERT_TRUE(testsupport::shell("ffmpeg -nostdin -y -f lavfi -i sine=frequency=330:duration=1.5 -f lavfi "
                                       "-i sine=frequency=550:duration=1.5 -filter_complex amerge=inputs=2 " +
                                       std::string(c.args) + " '" + file + "'"));
        std::vector<std::vector<uint8_t>> frames = framesOf(file);
        ASSERT_GT(frames.size(), 10u);
        Decoded d = decodeUnits(record(c.codecType, c.rate, 0, c.layer), frames);
        ASSERT_TRUE(d.outputKnown);
        EXPECT_EQ(256, d.output.codecType);
        EXPECT_EQ(c.rate, d.output.sampleRate);
        EXPECT_EQ(0, d.output.channels);
        EXPECT_EQ(c.channels == 1 ? 0x1u : c.channels == 2 ? 0x3u : 0x3Fu, d.output.channelMap);
        EXPECT_EQ(2, d.output.pcm.format);
        EXPECT_EQ("", d.stderrText);
        testsupport::PcmMatch m =
            testsupport::comparePcm(d.pcm, testsupport::ffmpegDecode(file, "s16le"), 2, c.channels, 4000, 1);
        EXPECT_TRUE(m.ok) << m.detail;
    }
}

TEST(FfmpegBackend, BadUnitsAreSkippedWithOneDiagnosticEach) {
    TempDir dir;
    std::string file = dir.path("x.aac");
    ASSERT_TRUE(testsupport::shell("ffmpeg -nostdin -y -f lavfi -i sine=duration=0.5 -c:a aac -f adts '" + file + "'"));
    std::vector<std::vector<uint8_t>> frames = framesOf(file), damaged = frames;
    damaged[3].assign(40, 0x11);             // not ADTS at all
    damaged[5].push_back(0);                 // a byte more than its header says
    Decoded good = decodeUnits(record(0x300, 44100, 1), frames);
    Decoded bad = decodeUnits(record(0x300, 44100, 1), damaged);
    EXPECT_NE(std::string::npos, bad.stderrText.find("unit 4: a unit without an ADTS header in an ADTS stream"));
    EXPECT_NE(std::string::npos, bad.stderrText.find("unit 6: a unit of"));
    EXPECT_NE(std::string::npos, bad.stderrText.find("hostaudio: 1 units skipped in all\n"));
    EXPECT_EQ(3, std::count(bad.stderrText.begin(), bad.stderrText.end(), '\n')) << bad.stderrText;
    // The skipped frame's PCM is missing, and the decoder may lose the next frame's overlap too.
    EXPECT_GE(good.pcm.size() - 1024 * 2, bad.pcm.size());
    EXPECT_LE(good.pcm.size() - 1024 * 2 * 2, bad.pcm.size());

    std::vector<std::vector<uint8_t>> wrongLayer = framesOf(file);
    Decoded nothing = decodeUnits(record(0x200, 44100, 1, 2), wrongLayer);
    EXPECT_TRUE(nothing.pcm.empty());
    EXPECT_NE(std::string::npos, nothing.stderrText.find("reserved values in the frame header")) << nothing.stderrText;
}

TEST(FfmpegBackend, UnknownFormatsHaveNoDecoder) {
    for (int32_t type : {0x500, 0xFFFF, 0x1234}) {
        audio::audio_codec_parameter_t r = record(type, 44100, 3);
        testing::internal::CaptureStderr();
        EXPECT_EQ(nullptr, audio::KxAudioDecoder::create(&r)) << type;
        testing::internal::GetCapturedStderr();
    }
    audio::audio_codec_parameter_t r = record(0x200, 44100, 3, 5);  // no Layer 6
    testing::internal::CaptureStderr();
    EXPECT_EQ(nullptr, audio::KxAudioDecoder::create(&r));
    testing::internal::GetCapturedStderr();
}

}  // namespace
