// AAC files in ADTS and LOAS/LATM made by ffmpeg's encoder, decoded end to end; two of them
// rewritten to carry a CRC or an explicit sampling frequency.
#include "DecodeCheck.h"

using namespace blackbox;

namespace {

enum class Rewrite { None, AddCrc, ExplicitRate };

// Every ADTS frame gets a CRC behind its header (decoders skip it unless asked to check).
void addCrc(Bytes& f) {
    const size_t length = f.size() + 2;
    f[1] &= 0xFE;  // protectionAbsent 0
    f[3] = static_cast<uint8_t>((f[3] & 0xFC) | length >> 11);
    f[4] = static_cast<uint8_t>(length >> 3);
    f[5] = static_cast<uint8_t>((f[5] & 0x1F) | (length & 7) << 5);
    f.insert(f.begin() + 7, {0x5A, 0xA5});
}

// Every StreamMuxConfig gets samplingFrequencyIndex 15 and the rate in 24 bits behind it.
void explicitRate(Bytes& f, uint32_t rate) {
    std::vector<bool> bits;
    for (size_t i = 3; i < f.size(); ++i)
        for (int b = 7; b >= 0; --b) bits.push_back(f[i] >> b & 1);
    if (!bits[0]) {  // a config: 1 + 1 + 1 + 6 + 4 + 3 bits, a 5-bit object type, then the rate index
        EXPECT_FALSE(bits[1]) << "audioMuxVersion 0";
        std::fill(bits.begin() + 21, bits.begin() + 25, true);
        for (int b = 0; b < 24; ++b) bits.insert(bits.begin() + 25 + b, rate >> (23 - b) & 1);
    }
    f = {0x56, static_cast<uint8_t>(0xE0 | bits.size() / 8 >> 8), static_cast<uint8_t>(bits.size() / 8)};
    for (size_t i = 0; i < bits.size(); i += 8) {
        uint8_t byte = 0;
        for (size_t b = 0; b < 8; ++b) byte = static_cast<uint8_t>(byte << 1 | bits[i + b]);
        f.push_back(byte);
    }
}

TEST(AacDecode, AdtsAndLatm) {
    const struct {
        const char* label;
        uint32_t rate;
        int channels;
        std::string muxer;  // adts or latm
        Rewrite rewrite;
        bool junk = false;  // spliced in before the first frame and the sixth
    } fixtures[] = {
        {"adts 44.1k mono", 44100, 1, "adts", Rewrite::None},
        {"adts 22.05k 5.1", 22050, 6, "adts", Rewrite::None},
        {"adts 48k stereo with CRC", 48000, 2, "adts", Rewrite::AddCrc},
        {"adts 44.1k stereo, junk first and midway", 44100, 2, "adts", Rewrite::None, true},
        {"latm 32k mono", 32000, 1, "latm", Rewrite::None},
        {"latm 48k stereo, junk first and midway", 48000, 2, "latm", Rewrite::None, true},
        {"latm 44.1k stereo with samplingFrequencyIndex 15", 44100, 2, "latm", Rewrite::ExplicitRate},
    };
    TempDir dir;
    std::vector<Decode> rows;
    for (const auto& f : fixtures) {
        const std::string in = dir.path(std::to_string(rows.size()) + ".aac");
        ASSERT_TRUE(encodeTones(in, f.channels, f.rate,
                                "-c:a aac -b:a " + std::to_string(48 * f.channels) + "k -f " + f.muxer));
        std::vector<Bytes> frames = packetsOf(in);
        Bytes file;
        for (Bytes& frame : frames) {
            if (f.rewrite == Rewrite::AddCrc) addCrc(frame);
            if (f.rewrite == Rewrite::ExplicitRate) explicitRate(frame, f.rate);
            file.insert(file.end(), frame.begin(), frame.end());
        }
        const std::string clean = f.junk ? in + ".clean.aac" : in;
        writeFile(clean, file);
        std::string opening = "[AST][INF]File suffix=aac, codec=16.\n", reads;
        if (f.junk) {
            writeFile(in, withJunk(file, {0, sixthFrame(clean)}));
            opening += "[AST][ERR]AAC file ADTS sync word error(syncWord=4A5).\n"
                       "[AST][ERR]AAC file LOAS sync word error(syncWord=252).\n" +
                       skippedJunk("AAC");
            reads = (f.muxer == "latm" ? "[AST][ERR]AAC file LOAS sync word error(syncWord=252).\n"
                                       : "[AST][ERR]AAC file ADTS sync word error(syncWord=4A5).\n") +
                    skippedJunk("AAC");
        } else if (f.muxer == "latm") {
            opening += "[AST][ERR]AAC file ADTS sync word error(syncWord=56E).\n";  // LOAS's 2B7
        }
        rows.push_back({f.label, in,
                        decodedLines(opening + summaryLines("parseAacHeader", f.rate, f.channels),
                                     reads + "[AST][INF]Reached end of data:0.\n"),
                        unitsAre(frames)});
        if (f.rewrite == Rewrite::ExplicitRate)  // FFmpeg's AAC decoder refuses explicit frequencies
            rows.back().problems = {"invalid sampling rate index 15"};
        else
            rows.back().pcm(clean, f.rate, f.channels);
    }
    checkDecodes(rows);
}

}  // namespace
