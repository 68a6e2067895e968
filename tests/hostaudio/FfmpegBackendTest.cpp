// The FFmpeg backend behind the service's decoder, on units cut from ffmpeg-made files: what
// it says of units it cannot take, how WMA payloads join into media objects, and lossless
// decodes on several threads against the serial one. Whole files are checked against ffmpeg's
// decode end to end.
#include <algorithm>
#include <sstream>

#include "ApeAudioDataReader.h"
#include "FlacAudioDataReader.h"
#include "HostAudioTestUtil.h"
#include "Mp4AudioDataReader.h"

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

// The decode with HOSTAUDIO_DECODE_THREADS set; of standard error, the service's own lines in
// order. libavcodec logs from the pool's threads in pieces, so a line of ours may follow one of
// its prefixes.
Decoded decodeOnThreads(const char* threads, const audio::audio_codec_parameter_t& record, const Units& units) {
    setenv("HOSTAUDIO_DECODE_THREADS", threads, 1);
    Decoded d = decodeUnits(record, units);
    unsetenv("HOSTAUDIO_DECODE_THREADS");
    std::istringstream lines(d.err);
    std::vector<std::string> ours;
    for (std::string line; std::getline(lines, line);)
        if (line.find("hostaudio: ") != std::string::npos) ours.push_back(line.substr(line.find("hostaudio: ")));
    std::sort(ours.begin(), ours.end());
    d.err.clear();
    for (const std::string& line : ours) d.err += line + "\n";
    return d;
}

// Damage the decoders find only once they decode: the byte at `at` (-1: the middle one) of
// each listed unit, or with `frames`, of each listed frame's first unit.
struct Damage {
    std::vector<size_t> units;
    long at = -1;
    uint8_t value = 0;
    bool frames = false;
    void apply(Units& all) const {
        std::vector<size_t> starts;
        for (size_t k = 0; k < all.size(); ++k)
            if (!frames || (all[k].size() > 4 && std::equal(all[k].begin(), all[k].begin() + 4, "APEs")))
                starts.push_back(k);
        for (size_t n : units) {
            Bytes& u = all[starts.at(n)];
            if (at < 0)
                u[u.size() / 2] ^= 0x5A;
            else
                u.at(size_t(at)) = value;
        }
    }
};

// Lossless decodes on a pool of contexts give the serial decode's PCM byte for byte and, where
// frames are damaged, the same complaints about the same units, found late. With 3 contexts one
// waits for turns other than the next; the 8 kHz mono APE file's limit (16000 bytes) holds
// less than a frame ahead.
TEST(FramePool, LosslessDecodesGiveTheSerialPcm) {
    TempDir dir;
    const std::string noise = "ffmpeg -nostdin -y -f lavfi -i anoisesrc=a=0.3:seed=5:d=";
    const struct {
        const char* label;
        std::string make;  // $O: the file
        Units (*units)(const std::string&);
        audio::audio_codec_parameter_t record;
        Damage damage;
    } rows[] = {
        {"flac 16 stereo",
         noise + "3 -ar 44100 -ac 2 $O.wav && flac -s -f -o $O $O.wav",
         readerUnits<FlacAudioDataReader>,
         codecRecord(audio::AUDIO_CODEC_FLAC, 44100, 3),
         {}},
        {"flac 24 mono, damaged frames",
         noise + "3 -ar 48000 -c:a pcm_s24le $O.wav && flac -s -f -o $O $O.wav",
         readerUnits<FlacAudioDataReader>,
         codecRecord(audio::AUDIO_CODEC_FLAC, 48000, 1),
         {{3, 4, 5, 20}}},
        // A first element of type 2 is one the decoder refuses.
        {"alac 16 stereo, damaged packets",
         noise + "3 -ar 44100 -ac 2 -c:a alac $O.m4a && mv $O.m4a $O",
         readerUnits<Mp4AudioDataReader>,
         codecRecord(audio::AUDIO_CODEC_ALAC, 44100, 3),
         {{2, 9, 10}, 16, 0x40}},
        {"alac 24 stereo",
         noise + "2 -ar 96000 -ac 2 -c:a alac -sample_fmt s32p $O.m4a && mv $O.m4a $O",
         readerUnits<Mp4AudioDataReader>,
         codecRecord(audio::AUDIO_CODEC_ALAC, 96000, 3),
         {}},
        {"ape c2000 stereo 48k",
         noise + "7 -ar 48000 -ac 2 $O.wav && jmac c2000 $O.wav $O >/dev/null",
         readerUnits<ApeAudioDataReader>,
         codecRecord(audio::AUDIO_CODEC_APE, 0, 0),
         {}},
        // Frames of 2^32 - 1 blocks, which the decoder refuses.
        {"ape c1000 mono 8k, damaged frames",
         noise + "30 -ar 8000 $O.wav && jmac c1000 $O.wav $O >/dev/null",
         readerUnits<ApeAudioDataReader>,
         codecRecord(audio::AUDIO_CODEC_APE, 0, 0),
         {{1, 2}, 12, 0xFF, true}},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.label);
        const std::string file = dir.path("f");
        std::string make = r.make;
        for (size_t at; (at = make.find("$O")) != std::string::npos;) make.replace(at, 2, "'" + file + "'");
        ASSERT_TRUE(testsupport::shell(make));
        Units units = r.units(file);
        ASSERT_GT(units.size(), 20u);
        r.damage.apply(units);
        const Decoded serial = decodeOnThreads("1", r.record, units), threaded = decodeOnThreads("3", r.record, units);
        EXPECT_FALSE(serial.pcm.empty());
        EXPECT_TRUE(serial.pcm == threaded.pcm);
        EXPECT_EQ(serial.err, threaded.err);
        EXPECT_EQ(r.damage.units.empty(), serial.err.empty()) << serial.err;
    }
}

}  // namespace
