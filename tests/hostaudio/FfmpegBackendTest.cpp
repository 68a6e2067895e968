// The FFmpeg backend behind the service's decoder, on units cut from ffmpeg-made files: what
// it says of units it cannot take, and how WMA payloads join into media objects. Whole files
// are checked against ffmpeg's decode end to end.
#include <algorithm>

#include "HostAudioTestUtil.h"

using testsupport::TempDir;

namespace {

TEST(FfmpegBackend, BadUnitsAreSkippedWithOneDiagnosticEach) {
    TempDir dir;
    std::string file = dir.path("x.aac");
    ASSERT_TRUE(testsupport::shell("ffmpeg -nostdin -y -f lavfi -i sine=duration=0.5 -c:a aac -f adts '" + file + "'"));
    const Bytes bytes = testsupport::readFile(file);
    Units frames;
    for (const testsupport::Packet& p : testsupport::ffprobePackets(file))
        frames.emplace_back(bytes.begin() + p.position, bytes.begin() + p.position + p.size);
    Units damaged = frames;
    damaged[3].assign(40, 0x11);  // not ADTS at all
    damaged[5].push_back(0);      // a byte more than its header says
    Decoded good = decodeUnits(codecRecord(audio::AUDIO_CODEC_AAC, 44100, 1), frames);
    Decoded bad = decodeUnits(codecRecord(audio::AUDIO_CODEC_AAC, 44100, 1), damaged);
    EXPECT_EQ("", good.err);
    EXPECT_EQ("hostaudio: unit 4: a unit without an ADTS header in an ADTS stream\n"
              "hostaudio: unit 6: a unit of " +
                  std::to_string(frames[5].size() + 1) + " bytes where its header says " +
                  std::to_string(frames[5].size()) + "\nhostaudio: units skipped in all: 1\n",
              bad.err);
    // The skipped frame's PCM is missing, and the decoder may lose the next frame's overlap too.
    EXPECT_GE(good.pcm.size() - 1024 * 2, bad.pcm.size());
    EXPECT_LE(good.pcm.size() - 1024 * 2 * 2, bad.pcm.size());

    audio::audio_codec_parameter_t layer3 = codecRecord(audio::AUDIO_CODEC_MPEG, 44100, 1);
    layer3.mpeg.layer = 2;
    Decoded nothing = decodeUnits(layer3, frames);
    EXPECT_TRUE(nothing.pcm.empty());
    EXPECT_EQ(0u, nothing.err.find("hostaudio: unit 1: reserved values in the frame header FFF15040\n"));
    EXPECT_NE(std::string::npos, nothing.err.find("units skipped in all: " + std::to_string(frames.size()) + "\n"));
}

// A WMA unit: the frame prefix (media object number, payload length) and the payload.
Bytes wmaUnit(uint8_t object, const uint8_t* data, size_t n) {
    Bytes u(data, data + n);
    u.insert(u.begin(), {0x55, 0x55, 0xAA, 0xAA, object, 8, uint8_t(n >> 8), uint8_t(n)});
    return u;
}

TEST(FfmpegBackend, WmaPayloadsJoinIntoMediaObjects) {
    TempDir dir;
    std::string file = dir.path("a.wma"), objects = dir.path("a.bin");
    ASSERT_TRUE(testsupport::shell("ffmpeg -nostdin -y -f lavfi -i sine=frequency=500:duration=0.4 -ac 2 -c:a wmav2 "
                                   "-b:a 128k -f asf '" +
                                   file + "' && ffmpeg -nostdin -y -i '" + file + "' -map 0:a -c copy -f data '" +
                                   objects + "'"));
    // The block alignment stands in the Stream Properties Object, 90 bytes after its GUID.
    const Bytes asf = testsupport::readFile(file), all = testsupport::readFile(objects);
    const uint8_t streamProperties[4] = {0x91, 0x07, 0xDC, 0xB7};
    auto spo = std::search(asf.begin(), asf.end(), streamProperties, streamProperties + 4);
    ASSERT_LT(spo + 92, asf.end());
    const size_t blockAlign = size_t(spo[90]) | size_t(spo[91]) << 8;
    ASSERT_GT(blockAlign, 300u);
    ASSERT_EQ(0u, all.size() % blockAlign);

    // Each object in two payloads (ffmpeg's files split objects across packets too, checked end
    // to end); the same with object 3's first half missing.
    Units split, damaged;
    for (size_t at = 0, object = 1; at < all.size(); at += blockAlign, ++object) {
        split.push_back(wmaUnit(uint8_t(object), &all[at], 300));
        split.push_back(wmaUnit(uint8_t(object), &all[at + 300], blockAlign - 300));
        if (object != 3) damaged.push_back(split[split.size() - 2]);
        damaged.push_back(split.back());
    }
    damaged.insert(damaged.begin() + 1, Bytes(20, 0x55));
    damaged[2][7] ^= 1;  // the prefix's length no longer matches: object 1 stays unfinished

    const audio::audio_codec_parameter_t record = wmaRecord(44100, 0x3, uint16_t(blockAlign));
    Decoded b = decodeUnits(record, split), c = decodeUnits(record, damaged);
    EXPECT_EQ("", b.err);
    EXPECT_FALSE(b.pcm.empty());
    const std::string n = std::to_string(blockAlign), rest = std::to_string(blockAlign - 300);
    const std::string said = std::to_string((blockAlign - 300) ^ 1);
    EXPECT_EQ("hostaudio: unit 2: a unit of 20 bytes without the WMA frame prefix\n"
              "hostaudio: unit 3: the frame prefix says " +
                  said + " payload bytes, the unit carries " + rest + "\n" +
                  "hostaudio: unit 4: media object 1 ends after 300 of " + n + " bytes; dropped\n" +
                  "hostaudio: unit 7: media object 3 ends after " + rest + " of " + n + " bytes; dropped\n" +
                  "hostaudio: units skipped in all: 2\n",
              c.err);
    EXPECT_LT(c.pcm.size(), b.pcm.size());
}

// Inputs the fuzz targets found: header fields out of range are refused with a reason, and
// nothing reaches the codec.
TEST(FormatAdapters, RefuseOutOfRangeFieldsFoundByFuzzing) {
    Bytes vorbisId = {0x76, 0x62, 0x73, 0x49, 0, 38, 0, 0, 1, 'v', 'o', 'r',
                      'b',  'i',  's',  0,    0, 0,  0, 1, 0, 0,   0,   0x80};
    vorbisId.resize(38, 0);
    // 65537 samples a frame: the trial decoders would have sized their buffers by it.
    const Bytes alacHuge = {'A', 'L', 'A', 'C', 0, 0, 0, 4, 16, 0, 0x1F, 0x40, 0, 1, 0, 1, 1, 2, 3, 4};
    CapturedPackets ogg, alac, ape;
    expectProblems(*hostaudio::makeOggAdapter(), codecRecord(audio::AUDIO_CODEC_OGG, 0, 0),
                   {{vorbisId, "a damaged Vorbis identification header"}}, ogg);
    expectProblems(*hostaudio::makeAlacAdapter(), codecRecord(audio::AUDIO_CODEC_ALAC, 8000, 0),
                   {{alacHuge, "a packet header with 65537 samples a frame"}}, alac);
    expectProblems(*hostaudio::makeApeAdapter(), codecRecord(audio::AUDIO_CODEC_APE, 0, 0),
                   {{Bytes(3, 0), "a unit of 3 bytes cannot hold the APE frame header"}}, ape);
    for (const CapturedPackets* out : {&ogg, &alac, &ape}) EXPECT_TRUE(out->setups.empty() && out->packets.empty());
}

}  // namespace
