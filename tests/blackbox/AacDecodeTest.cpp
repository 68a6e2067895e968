// AAC files in ADTS and LOAS/LATM made by ffmpeg's encoder, decoded end to end; two of them
// rewritten to carry a CRC or an explicit sampling frequency.
#include "DecodeCheck.h"

using namespace blackbox;
using testsupport::Packet;

namespace {

enum class Rewrite { None, AddCrc, ExplicitRate };

struct Fixture {
    const char* label;
    uint32_t rate, channels;
    const char* muxer;  // adts or latm
    Rewrite rewrite;
};

// Every ADTS frame gets a CRC behind its header (decoders skip it unless asked to check).
std::vector<uint8_t> addCrc(const std::vector<uint8_t>& file, const std::vector<Packet>& frames) {
    std::vector<uint8_t> out;
    for (const Packet& p : frames) {
        std::vector<uint8_t> f(file.begin() + p.position, file.begin() + p.position + p.size);
        uint32_t length = static_cast<uint32_t>(f.size() + 2);
        f[1] &= 0xFE;  // protectionAbsent 0
        f[3] = static_cast<uint8_t>((f[3] & 0xFC) | length >> 11);
        f[4] = static_cast<uint8_t>(length >> 3);
        f[5] = static_cast<uint8_t>((f[5] & 0x1F) | (length & 7) << 5);
        f.insert(f.begin() + 7, {0x5A, 0xA5});
        out.insert(out.end(), f.begin(), f.end());
    }
    return out;
}

// Every StreamMuxConfig gets samplingFrequencyIndex 15 and the rate in 24 bits behind it.
std::vector<uint8_t> explicitRate(const std::vector<uint8_t>& file, const std::vector<Packet>& frames, uint32_t rate) {
    std::vector<uint8_t> out;
    for (const Packet& p : frames) {
        std::vector<bool> bits;
        for (long i = p.position + 3; i < p.position + p.size; ++i)
            for (int b = 7; b >= 0; --b) bits.push_back(file[static_cast<size_t>(i)] >> b & 1);
        if (!bits[0]) {  // a config: 1 + 1 + 1 + 6 + 4 + 3 bits, a 5-bit object type, then the rate index
            EXPECT_FALSE(bits[1]) << "audioMuxVersion 0";
            std::fill(bits.begin() + 21, bits.begin() + 25, true);
            for (int b = 0; b < 24; ++b) bits.insert(bits.begin() + 25 + b, rate >> (23 - b) & 1);
        }
        uint32_t length = static_cast<uint32_t>(bits.size() / 8);
        out.insert(out.end(), {0x56, static_cast<uint8_t>(0xE0 | length >> 8), static_cast<uint8_t>(length)});
        for (size_t i = 0; i < bits.size(); i += 8) {
            uint8_t byte = 0;
            for (size_t b = 0; b < 8; ++b) byte = static_cast<uint8_t>(byte << 1 | bits[i + b]);
            out.push_back(byte);
        }
    }
    return out;
}

void decode(const Fixture& f) {
    SCOPED_TRACE(f.label);
    testsupport::TempDir dir;
    DecodeCheck c;
    c.in = dir.path("in.aac");
    std::string tones;  // one a channel
    for (uint32_t i = 0; i < f.channels; ++i)
        tones += (i ? "|" : "") + std::string("0.3*sin(") + std::to_string(220 + 110 * i) + "*2*PI*t)";
    ASSERT_TRUE(shell("ffmpeg -nostdin -y -f lavfi -i 'aevalsrc=" + tones + ":s=" + std::to_string(f.rate) +
                      ":d=1.5' -fflags +bitexact -c:a aac -b:a " + std::to_string(48 * f.channels) + "k -f " + f.muxer +
                      " '" + c.in + "'"));
    if (f.rewrite != Rewrite::None) {
        std::vector<uint8_t> original = testsupport::readFile(c.in);
        std::vector<Packet> frames = testsupport::ffprobePackets(c.in);
        std::vector<uint8_t> rewritten =
            f.rewrite == Rewrite::AddCrc ? addCrc(original, frames) : explicitRate(original, frames, f.rate);
        ASSERT_GT(rewritten.size(), original.size()) << "nothing was rewritten";
        testsupport::writeFile(c.in, rewritten);
    }
    std::vector<uint8_t> file = testsupport::readFile(c.in);
    ASSERT_GT(file.size(), 7u);

    c.opening = "[AST][INF]File suffix=aac, codec=16.\n";
    if (std::string(f.muxer) == "latm") {
        char line[80];
        snprintf(line, sizeof line, "[AST][ERR]AAC file ADTS sync word error(syncWord=%03X).\n",
                 file[0] << 4 | file[1] >> 4);
        c.opening += line;
    }
    c.opening += "[AST][INF]parseAacHeader:\n[AST][INF]sampleFrequency=" + std::to_string(f.rate) +
                 "\n[AST][INF]channelMap=" + std::to_string(f.channels <= 2 ? f.channels : 0) + "(1-Mono/2-Stereo)\n";
    c.closing = "[AST][INF]Reached end of data:0.\n";
    c.end = file.size();
    c.channels = static_cast<int>(f.channels);
    c.withPcm = f.rewrite != Rewrite::ExplicitRate;  // FFmpeg's AAC decoder refuses explicit frequencies
    decodeAndCheck(c);
}

TEST(AacDecode, Adts) {
    const Fixture fixtures[] = {
        {"44.1k mono", 44100, 1, "adts", Rewrite::None},
        {"48k stereo", 48000, 2, "adts", Rewrite::None},
        {"22.05k 5.1", 22050, 6, "adts", Rewrite::None},
        {"8k mono", 8000, 1, "adts", Rewrite::None},
    };
    for (const Fixture& f : fixtures) decode(f);
}

TEST(AacDecode, Latm) {
    const Fixture fixtures[] = {
        {"44.1k stereo", 44100, 2, "latm", Rewrite::None},
        {"32k mono", 32000, 1, "latm", Rewrite::None},
    };
    for (const Fixture& f : fixtures) decode(f);
}

TEST(AacDecode, HeadersWithCrcOrAnExplicitRate) {
    const Fixture fixtures[] = {
        {"adts with CRC", 48000, 2, "adts", Rewrite::AddCrc},
        {"latm with samplingFrequencyIndex 15", 44100, 2, "latm", Rewrite::ExplicitRate},
    };
    for (const Fixture& f : fixtures) decode(f);
}

}  // namespace
