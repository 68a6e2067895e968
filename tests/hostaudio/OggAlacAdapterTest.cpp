// The Ogg and ALAC adapters on hand-made units: the codec setup built from header packets or
// the packet header, the packets passed on, and the units they refuse. Real decoding is
// checked end to end.
#include <gtest/gtest.h>

#include <cstring>

#include "FormatAdapter.h"

namespace {

typedef std::vector<uint8_t> Bytes;

struct Captured final : hostaudio::PacketOutput {
    bool open(const hostaudio::CodecSetup& s) override {
        setups.push_back(s);
        return true;
    }
    bool isOpen() const override { return !setups.empty(); }
    bool packet(const uint8_t* data, size_t length) override {
        packets.emplace_back(data, data + length);
        return true;
    }
    std::vector<hostaudio::CodecSetup> setups;
    std::vector<Bytes> packets;
};

Bytes join(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const Bytes& p : parts) all.insert(all.end(), p.begin(), p.end());
    return all;
}

Bytes text(const char* s) { return Bytes(s, s + strlen(s)); }

// An Ogg packet behind its prefix.
Bytes unit(const Bytes& packet, uint16_t counter) {
    size_t size = packet.size() + 8;
    Bytes u = {0x76, 0x62, 0x73, 0x49, uint8_t(size >> 8), uint8_t(size), uint8_t(counter >> 8), uint8_t(counter)};
    return join({u, packet});
}

Bytes vorbisHeader(uint8_t type, size_t length) {
    Bytes h = join({{type}, text("vorbis")});
    if (type == 1) h.insert(h.end(), {0, 0, 0, 0, 2, 0x44, 0xAC, 0, 0});  // stereo, 44100 Hz
    while (h.size() < length) h.push_back(uint8_t(h.size()));
    return h;
}

Bytes opusHead(uint8_t channels, uint16_t preSkip) {
    return join({text("OpusHead"), {1, channels, uint8_t(preSkip), uint8_t(preSkip >> 8), 0x80, 0xBB, 0, 0, 0, 0, 0}});
}

// 0x7F "FLAC" 1.0, one more header, "fLaC", STREAMINFO: 4096 blocks, 44100 Hz, 2 channels, 24 bits.
Bytes flacMapping() {
    Bytes m = join({{0x7F}, text("FLAC"), {1, 0, 0, 1}, text("fLaC"), {0x80, 0, 0, 34}});
    Bytes info = {0x10, 0, 0x10, 0, 0, 0, 0, 0, 0, 0, 0x0A, 0xC4, 0x43, 0x70};
    info.resize(34, 0);
    return join({m, info});
}

struct OggCase {
    const char* label;
    std::vector<Bytes> packets;  // prefixed with counters 0, 1, 2 ... unless `units` is given
    std::vector<Bytes> units;
    std::vector<std::string> problems;  // one per unit, empty when taken
    std::vector<bool> taken;            // empty: taken exactly when there is no problem
    std::vector<Bytes> decoded;
};

TEST(OggAdapter, HeaderPacketsSetUpTheCodecAndTheRestIsDecoded) {
    const Bytes id = vorbisHeader(1, 30), comment = vorbisHeader(3, 300), setup = vorbisHeader(5, 40);
    const Bytes mapping = flacMapping();
    const Bytes a1 = {0x00, 1, 2}, a2 = {0x02, 3}, frame = {0xFF, 0xF8, 0x69, 0x18, 0, 0xAB};
    const std::string otherOpus =
        "the Opus identification header of another logical stream, skipped; units carry no stream number, so every "
        "audio packet goes to the first stream's decoder";
    const OggCase cases[] = {
        {"vorbis", {id, comment, setup, a1, {}, a2}, {}, {"", "", "", "", "", ""}, {}, {a1, a2}},
        {"opus", {opusHead(2, 312), text("OpusTags...."), a1, a2}, {}, {"", "", "", ""}, {}, {a1, a2}},
        {"flac", {flacMapping(), {0x84, 0, 0, 2, 9, 9}, frame, frame, {0x04, 1}}, {},
         {"", "", "", "", "a packet without a FLAC frame header among the frames"}, {}, {frame, frame}},
        {"a second stream's headers are skipped", {id, opusHead(1, 0), comment, setup, text("OpusTags"), a1}, {},
         {"", otherOpus, "", "", "a header packet of another logical stream, skipped", ""}, {}, {a1}},
        {"audio before any identification header", {a1, id, comment, setup, a2}, {},
         {"a packet before any identification header (first byte 00)", "", "", "", ""}, {}, {a2}},
        {"vorbis headers out of order", {id, setup, comment, setup, a1}, {},
         {"", "a packet where the Vorbis comment header was expected", "", "", ""}, {}, {a1}},
        {"damaged identification headers", {Bytes(id.begin(), id.begin() + 20), opusHead(0, 0),
                                            Bytes(mapping.begin(), mapping.begin() + 40)}, {},
         {"a damaged Vorbis identification header", "a damaged OpusHead header",
          "a FLAC mapping header without its STREAMINFO block"}, {}, {}},
        {"prefix violations", {},
         {join({{0x76, 0x62, 0x73, 0x48, 0, 9, 0, 0}, {1}}), join({{0x76, 0x62, 0x73, 0x49, 0, 10, 0, 0}, {1}}),
          {0x76, 0x62, 0x73}, unit(opusHead(2, 0), 0), unit(a1, 5), unit(a2, 6)},
         {"no packet sync word at the start of the unit (76627348)", "a unit of 9 bytes whose prefix says 10",
          "a unit of 3 bytes cannot hold the packet prefix", "", "packet counter 5 where 1 was expected", ""},
         {false, false, false, true, true, true}, {a1, a2}},
    };
    for (const OggCase& c : cases) {
        SCOPED_TRACE(c.label);
        std::vector<Bytes> units = c.units;
        for (size_t i = 0; i < c.packets.size(); ++i) units.push_back(unit(c.packets[i], uint16_t(i)));
        std::unique_ptr<hostaudio::FormatAdapter> adapter = hostaudio::makeOggAdapter();
        audio::audio_codec_parameter_t record{};
        record.codecType = 0x900;
        ASSERT_TRUE(adapter->configure(record));
        Captured out;
        ASSERT_EQ(c.problems.size(), units.size());
        for (size_t i = 0; i < units.size(); ++i) {
            std::string problem;
            bool taken = adapter->unpack(units[i].data(), units[i].size(), out, problem);
            EXPECT_EQ(c.problems[i], problem) << "unit " << i;
            EXPECT_EQ(c.taken.empty() ? c.problems[i].empty() : c.taken[i], taken) << "unit " << i;
        }
        EXPECT_TRUE(c.decoded == out.packets);
        EXPECT_LE(out.setups.size(), 1u);
    }
}

TEST(OggAdapter, CodecSetupFromTheHeaders) {
    const Bytes id = vorbisHeader(1, 30), comment = vorbisHeader(3, 300), setup = vorbisHeader(5, 40);
    const Bytes head = opusHead(6, 0x1234), mapping = flacMapping();
    struct Case {
        const char* label;
        std::vector<Bytes> headers;
        AVCodecID codec;
        int rate;
        int channels;
        int bits;
        int64_t skip;
        Bytes extradata;
    };
    Bytes zeroedSkip = head;
    zeroedSkip[10] = zeroedSkip[11] = 0;  // dropped by the service instead
    const Case cases[] = {
        {"vorbis: the three headers in Xiph lacing", {id, comment, setup}, AV_CODEC_ID_VORBIS, 44100, 2, 0, 0,
         join({{2, 30, 255, 45}, id, comment, setup})},
        {"opus: the OpusHead, pre-skip moved to the service", {head}, AV_CODEC_ID_OPUS, 48000, 6, 0, 0x1234, zeroedSkip},
        {"flac: STREAMINFO", {mapping}, AV_CODEC_ID_FLAC, 44100, 2, 24, 0, Bytes(mapping.begin() + 17, mapping.end())},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        std::unique_ptr<hostaudio::FormatAdapter> adapter = hostaudio::makeOggAdapter();
        audio::audio_codec_parameter_t record{};
        adapter->configure(record);
        Captured out;
        for (size_t i = 0; i < c.headers.size(); ++i) {
            Bytes u = unit(c.headers[i], uint16_t(i));
            std::string problem;
            EXPECT_TRUE(adapter->unpack(u.data(), u.size(), out, problem)) << problem;
        }
        ASSERT_EQ(1u, out.setups.size());
        const hostaudio::CodecSetup& s = out.setups[0];
        EXPECT_EQ(c.codec, s.codecId);
        EXPECT_EQ(c.rate, s.sampleRate);
        EXPECT_EQ(c.channels, s.channels);
        EXPECT_EQ(c.bits, s.bitsPerCodedSample);
        EXPECT_EQ(c.skip, s.skipSamples);
        EXPECT_TRUE(c.extradata == s.extradata);
    }
}

// An ALAC packet behind its header: 24-bit, 96 kHz, 4096 samples a frame unless changed.
Bytes alacUnit(const Bytes& packet, bool last, uint8_t bits = 24, uint32_t frameLength = 4096) {
    uint32_t size = uint32_t(packet.size()) | (last ? 0x80000000u : 0);
    Bytes u = {'A', 'L', 'A', 'C', uint8_t(size >> 24), uint8_t(size >> 16), uint8_t(size >> 8), uint8_t(size),
               bits, 0x01, 0x77, 0x00, uint8_t(frameLength >> 24), uint8_t(frameLength >> 16),
               uint8_t(frameLength >> 8), uint8_t(frameLength)};
    return join({u, packet});
}

TEST(AlacAdapter, TheCookieIsRebuiltFromThePacketHeader) {
    std::unique_ptr<hostaudio::FormatAdapter> adapter = hostaudio::makeAlacAdapter();
    audio::audio_codec_parameter_t record{};
    record.codecType = 0xC00;
    record.channelMap = 0x3;
    ASSERT_TRUE(adapter->configure(record));
    Captured out;
    const Bytes p1 = {1, 2, 3}, p2 = {4, 5};
    const Bytes units[] = {alacUnit(p1, false), alacUnit(p2, true)};
    for (const Bytes& u : units) {
        std::string problem;
        EXPECT_TRUE(adapter->unpack(u.data(), u.size(), out, problem)) << problem;
    }
    ASSERT_EQ(1u, out.setups.size());
    const hostaudio::CodecSetup& s = out.setups[0];
    EXPECT_EQ(AV_CODEC_ID_ALAC, s.codecId);
    EXPECT_EQ(96000, s.sampleRate);
    EXPECT_EQ(2, s.channels);
    const Bytes cookie = {0, 0, 0, 36, 'a', 'l', 'a', 'c', 0, 0, 0, 0, 0, 0, 0x10, 0, 0, 24, 40, 10, 14, 2, 0, 255,
                          0, 0, 0, 0, 0, 0, 0, 0, 0, 0x01, 0x77, 0x00};
    EXPECT_TRUE(cookie == s.extradata);
    EXPECT_TRUE((std::vector<Bytes>{p1, p2}) == out.packets);
}

TEST(AlacAdapter, UnitsItRefuses) {
    const Bytes p = {9, 9, 9};
    Bytes badSync = alacUnit(p, false);
    badSync[3] = 'X';
    Bytes longer = alacUnit(p, false);
    longer.push_back(0);
    struct Case {
        const char* label;
        std::vector<Bytes> units;
        std::vector<std::string> problems;
        size_t decoded;
    };
    const Case cases[] = {
        {"after the last packet", {alacUnit(p, true), alacUnit(p, false)}, {"", "a packet after the last one"}, 1},
        {"a header unlike the first", {alacUnit(p, false), alacUnit(p, false, 16), alacUnit(p, false, 24, 1024)},
         {"", "a packet header that differs from the stream's first", "a packet header that differs from the stream's first"},
         1},
        {"wire violations", {badSync, longer, Bytes(10, 0), alacUnit(p, false, 12)},
         {"no packet sync word at the start of the unit (414C4158)", "a unit of 20 bytes whose header says 19",
          "a unit of 10 bytes cannot hold the packet header", "a packet header with 12 bits at 96000 Hz"},
         0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        std::unique_ptr<hostaudio::FormatAdapter> adapter = hostaudio::makeAlacAdapter();
        audio::audio_codec_parameter_t record{};
        record.channelMap = 0x1;
        adapter->configure(record);
        Captured out;
        for (size_t i = 0; i < c.units.size(); ++i) {
            std::string problem;
            EXPECT_EQ(c.problems[i].empty(), adapter->unpack(c.units[i].data(), c.units[i].size(), out, problem));
            EXPECT_EQ(c.problems[i], problem) << "unit " << i;
        }
        EXPECT_EQ(c.decoded, out.packets.size());
    }
    // Without a channel count in the record, only a count the packet decodes with will do.
    std::unique_ptr<hostaudio::FormatAdapter> adapter = hostaudio::makeAlacAdapter();
    audio::audio_codec_parameter_t record{};
    adapter->configure(record);
    Captured out;
    Bytes u = alacUnit({0xE0, 0, 0, 0}, true);
    std::string problem;
    EXPECT_FALSE(adapter->unpack(u.data(), u.size(), out, problem));
    EXPECT_EQ("no channel count from 1 to 8 decodes the first packet", problem);
    EXPECT_TRUE(out.setups.empty());
}

}  // namespace
