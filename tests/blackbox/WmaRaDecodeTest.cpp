// WMA and RealMedia files from real encoders, end to end: messages, units and PCM.
#include "DecodeCheck.h"

using namespace blackbox;

namespace {

std::string asfOpening(const std::string& file) {
    return "[AST][INF]File suffix=wma, codec=144.\n[AST][INF]ASF top-level header object length:" +
           std::to_string(le(readFile(file), 16)) + "\n";
}

// Every unit: the prefix, media objects counted from 1, the payload's size, the payload; the
// payloads together are ffmpeg's packets.
UnitsCheck wmaUnits(const std::string& file) {
    Bytes objects;
    for (const Bytes& p : packetsOf(file)) objects.insert(objects.end(), p.begin(), p.end());
    return [objects](const std::vector<Bytes>& units) -> std::string {
        Bytes payloads;
        for (size_t i = 0; i < units.size(); ++i) {
            const Bytes& u = units[i];
            if (u.size() <= 8 ||
                Bytes(u.begin(), u.begin() + 6) != Bytes({0x55, 0x55, 0xAA, 0xAA, uint8_t(i + 1), 8}) ||
                u.size() - 8 != size_t(u[6] << 8 | u[7]))
                return "unit " + std::to_string(i) + "'s prefix";
            payloads.insert(payloads.end(), u.begin() + 8, u.end());
        }
        return payloads == objects ? "" : "the payloads";
    };
}

TEST(WmaRaDecode, RealFiles) {
    const struct {
        const char* label;
        int rate, channels;
        const char* options;
    } fixtures[] = {
        {"stereo, several payloads a packet", 44100, 2, "-b:a 128k -packet_size 3200"},
        {"mono, many payloads a packet", 22050, 1, "-b:a 32k -packet_size 3200"},
        {"one payload a packet", 32000, 2, "-b:a 64k -packet_size 549"},
    };
    TempDir dir;
    std::vector<Decode> rows;
    for (const auto& f : fixtures) {
        const std::string in = dir.path(std::to_string(rows.size()) + ".wma");
        ASSERT_TRUE(made("$S1.5:sample_rate=" + std::to_string(f.rate) + " -ac " + std::to_string(f.channels) +
                             " -c:a wmav2 -f asf " + f.options + " $O",
                         in));
        rows.push_back(Decode{f.label, in,
                              decodedLines(asfOpening(in) + "[AST][INF]ASF top-level data object header length:50\n",
                                           "[AST][WRN]No more frame to read.\n"),
                              wmaUnits(in)}
                           .pcm(in, f.rate, f.channels));
    }

    const std::string v1 = dir.path("v1.wma"), ra = dir.path("asis.ra"), fixed = dir.path("fixed.ra");
    ASSERT_TRUE(made("$S0.5 -c:a wmav1 -f asf $O", v1) && made("$S0.5:sample_rate=8000 -c:a real_144 -f rm $O", ra));
    Bytes rm = readFile(ra);
    ASSERT_EQ(5u, be(rm, 14));
    rm[17] = 4;  // ffmpeg announces one chunk more than it writes
    writeFile(fixed, rm);
    rows.push_back({"wmav1", v1,
                    asfOpening(v1) + "[AST][ERR]Unsupported WMA codec id:352\n[AST][ERR]Invalid audio data reader.\n",
                    nullptr, 255});
    const uint32_t dataPos = be(rm, 18 + 10 + 32) + 30;  // PROP's dataOffset + 30
    const std::string raOpening =
        summaryLines("parseRaAudioHeader", 8000, 1) + "[AST][INF]dataPos=" + std::to_string(dataPos) + "\n";
    // A header, no audio, whether the file holds the chunks it announces or one fewer.
    rows.push_back({"RealMedia as ffmpeg writes it", ra,
                    decodedLines("[AST][INF]File suffix=ra, codec=176.\n"
                                 "[AST][WRN]RMF file ends after 4 of 5 announced chunks, read as it is.\n" +
                                     raOpening,
                                 "")});
    rows.push_back({"RealMedia with its chunk count corrected", fixed,
                    decodedLines("[AST][INF]File suffix=ra, codec=176.\n" + raOpening, "")});
    checkDecodes(rows);
}

}  // namespace
