// AAC files end to end, ADTS and LOAS/LATM: header lines, the frames handed to the decoder,
// and the PCM against ffmpeg's own decode of the same file.
#include <gtest/gtest.h>

#include "FrameUnits.h"
#include "TestSupport.h"
#include "ToolRunner.h"

using namespace blackbox;
using testsupport::Packet;
using testsupport::TempDir;

namespace {

const char kEnd[] = "[AST][INF]Reached end of data:0.\n[AST][WRN]Read audio data stopped.\n"
                    "[AST][INF]Decoder(decoder0) is working still, waiting...\n";

enum class Rewrite { None, AddCrc, ExplicitRate };

struct Fixture {
    const char* label;
    uint32_t rate;
    uint32_t channels;
    const char* muxer;  // adts or latm
    Rewrite rewrite;
};

// One tone per channel.
std::string encode(const Fixture& f, const std::string& path) {
    std::string tones;
    for (uint32_t c = 0; c < f.channels; ++c)
        tones += (c ? "|" : "") + std::string("0.3*sin(") + std::to_string(220 + 110 * c) + "*2*PI*t)";
    return "ffmpeg -nostdin -y -f lavfi -i 'aevalsrc=" + tones + ":s=" + std::to_string(f.rate) +
           ":d=1.5' -fflags +bitexact -c:a aac -b:a " + std::to_string(48 * f.channels) + "k -f " + f.muxer + " '" +
           path + "'";
}

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

// Every StreamMuxConfig says samplingFrequencyIndex 15 and gives the rate in 24 bits.
std::vector<uint8_t> explicitRate(const std::vector<uint8_t>& file, const std::vector<Packet>& frames, uint32_t rate) {
    std::vector<uint8_t> out;
    for (const Packet& p : frames) {
        std::vector<bool> bits;
        for (long i = p.position + 3; i < p.position + p.size; ++i)
            for (int b = 7; b >= 0; --b) bits.push_back(file[static_cast<size_t>(i)] >> b & 1);
        // useSameStreamMux 0, audioMuxVersion 0, then 1 + 6 + 4 + 3 bits and a 5-bit object type.
        if (!bits[0]) {
            EXPECT_FALSE(bits[1]);
            const size_t rateIndexAt = 21;
            for (size_t i = 0; i < 4; ++i) bits[rateIndexAt + i] = true;
            std::vector<bool> explicitBits;
            for (int b = 23; b >= 0; --b) explicitBits.push_back(rate >> b & 1);
            bits.insert(bits.begin() + rateIndexAt + 4, explicitBits.begin(), explicitBits.end());
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

void decodeAndCompare(const Fixture& f) {
    SCOPED_TRACE(f.label);
    TempDir dir;
    std::string in = dir.path("in.aac"), out = dir.path("out.pcm"), units = dir.path("units.bin");
    ASSERT_TRUE(shell(encode(f, in))) << encode(f, in);
    if (f.rewrite != Rewrite::None) {
        std::vector<uint8_t> original = testsupport::readFile(in);
        std::vector<Packet> frames = testsupport::ffprobePackets(in);
        std::vector<uint8_t> rewritten =
            f.rewrite == Rewrite::AddCrc ? addCrc(original, frames) : explicitRate(original, frames, f.rate);
        ASSERT_GT(rewritten.size(), original.size()) << "nothing was rewritten";
        testsupport::writeFile(in, rewritten);
    }
    std::vector<uint8_t> file = testsupport::readFile(in);
    ASSERT_GT(file.size(), 7u);

    ToolResult r = runTool({{"-f=" + in, "-v=" + out}, {{"HOSTAUDIO_UNITS_FILE", units}}});
    EXPECT_EQ(0, r.exitCode);
    std::string opening = "[AST][INF]File suffix=aac, codec=16.\n";
    if (std::string(f.muxer) == "latm") {
        char line[80];
        snprintf(line, sizeof line, "[AST][ERR]AAC file ADTS sync word error(syncWord=%03X).\n", file[0] << 4 | file[1] >> 4);
        opening += line;
    }
    uint32_t channelMap = f.channels <= 2 ? f.channels : 0;
    opening += "[AST][INF]parseAacHeader:\n[AST][INF]sampleFrequency=" + std::to_string(f.rate) +
               "\n[AST][INF]channelMap=" + std::to_string(channelMap) + "(1-Mono/2-Stereo)\n";
    EXPECT_EQ(argsLines(in, out) + opening + kThreadLines + kEnd, mainThreadLines(r.out));
    EXPECT_EQ("", unitsAreFrames(readUnits(units), file, 0, file.size(), testsupport::ffprobePackets(in), 0));

    // FFmpeg's AAC decoder refuses explicit frequencies, so such a stream has no reference PCM.
    if (f.rewrite == Rewrite::ExplicitRate) return;
    EXPECT_EQ("", r.err) << "the host service found a unit it could not take";

    PcmMatch m = comparePcm(testsupport::readFile(out), ffmpegDecode(in, "s16le"), 2, static_cast<int>(f.channels),
                            4000, 1);
    EXPECT_TRUE(m.ok) << m.detail;
}

TEST(AacDecode, Adts) {
    const Fixture fixtures[] = {
        {"44.1k mono", 44100, 1, "adts", Rewrite::None},
        {"48k stereo", 48000, 2, "adts", Rewrite::None},
        {"22.05k 5.1", 22050, 6, "adts", Rewrite::None},
        {"8k mono", 8000, 1, "adts", Rewrite::None},
    };
    for (const Fixture& f : fixtures) decodeAndCompare(f);
}

TEST(AacDecode, Latm) {
    const Fixture fixtures[] = {
        {"44.1k stereo", 44100, 2, "latm", Rewrite::None},
        {"32k mono", 32000, 1, "latm", Rewrite::None},
    };
    for (const Fixture& f : fixtures) decodeAndCompare(f);
}

TEST(AacDecode, HeadersWithCrcOrAnExplicitRate) {
    const Fixture fixtures[] = {
        {"adts with CRC", 48000, 2, "adts", Rewrite::AddCrc},
        {"latm with samplingFrequencyIndex 15", 44100, 2, "latm", Rewrite::ExplicitRate},
    };
    for (const Fixture& f : fixtures) decodeAndCompare(f);
}

}  // namespace
