// Monkey's Audio files from jmac end to end: the seek table and header lines, the chunks handed
// to the decoder, and the PCM against ffmpeg's own decode of the same file.
#include <regex>

#include "ApeFile.h"
#include "DecodeCheck.h"

using namespace blackbox;

namespace {

// What a version-3990 file says of its stream, read straight from its descriptor and header.
testsupport::ApeStream streamOf(const Bytes& file) {
    const uint32_t h = le(file, 8), table = h + le(file, 12);
    auto u16 = [&](uint32_t at) { return uint16_t(le(file, at, 2)); };
    testsupport::ApeStream s;
    s.version = u16(4);
    s.level = u16(h);
    s.bits = u16(h + 16);
    s.channels = u16(h + 18);
    s.rate = le(file, h + 20);
    s.blocksPerFrame = le(file, h + 4);
    s.finalFrameBlocks = le(file, h + 8);
    for (uint32_t i = 0; i < le(file, h + 12); ++i) s.seekTable.push_back(le(file, table + 4 * i));
    s.end = s.seekTable[0] + le(file, 24);
    return s;
}

std::string openingLines(const testsupport::ApeStream& s, const std::string& tag = "") {
    return "[AST][INF]File suffix=ape, codec=128.\n" + tag + testsupport::apeOpenLines(s.seekTable, s.rate, s.channels);
}

// `in`, holding `file` behind a tag if `tag` says so: every frame as the decoder takes it, and the PCM.
Decode decode(const std::string& label, const std::string& in, const Bytes& file, const std::string& tag = "") {
    const testsupport::ApeStream s = streamOf(file);
    return Decode{label, in, decodedLines(openingLines(s, tag), "[AST][INF]File reached the last audio frame.\n"),
                  [file, s](const std::vector<Bytes>& units) { return testsupport::apeUnitsMismatch(units, file, s); }}
        .pcm(in, s.rate, int(s.channels), s.bits > 16 ? 4 : 2);
}

// The bytes a read got, which the reverse then refuses, as N.
std::string sameLengths(const std::string& lines) {
    return std::regex_replace(lines, std::regex("data:([0-9]+)(\\.\n.*\n.*invalid length:)\\1\\."), "data:N$2N.");
}

// jmac takes a plain PCM WAV made from ffmpeg's samples; a file cut inside its last frame comes
// out as far as it goes, its last bytes unreversed when it ends inside a word, and the decoder
// decodes as much of the frame as ffmpeg does.
TEST(ApeDecode, JmacFilesAndACutOne) {
    const struct {
        const char* label;
        uint32_t rate, channels, bits;
        int seconds;
        std::vector<int> levels;
    } sources[] = {
        {"stereo16", 44100, 2, 16, 7, {1, 2, 3, 4}},
        {"mono8", 22050, 1, 8, 2, {2}},
        {"stereo24", 48000, 2, 24, 3, {3}},
    };
    TempDir dir;
    std::vector<Decode> rows;
    for (const auto& s : sources) {
        const std::string raw = dir.path(std::string(s.label) + ".raw"), wav = dir.path(std::string(s.label) + ".wav");
        const char* format = s.bits == 8 ? "u8" : s.bits == 16 ? "s16le" : "s24le";
        ASSERT_TRUE(shell("ffmpeg -nostdin -y -f lavfi -i 'aevalsrc=0.5*sin(440*2*PI*t)+0.05*random(0)|"
                          "0.4*sin(660*2*PI*t)+0.05*random(1):s=" +
                          std::to_string(s.rate) + ":d=" + std::to_string(s.seconds) + "' -ac " +
                          std::to_string(s.channels) + " -f " + format + " '" + raw + "'"));
        writeFile(wav, testsupport::wavFile({s.rate, s.channels, s.bits, 0, false}, readFile(raw)));
        for (int level : s.levels) {
            const std::string in = dir.path(std::to_string(rows.size()) + ".ape");
            ASSERT_TRUE(shell("jmac c" + std::to_string(level) + " '" + wav + "' '" + in + "'")) << s.label;
            rows.push_back(decode(std::string(s.label) + " level " + std::to_string(level), in, readFile(in)));
        }
    }
    const Bytes file = readFile(rows[4].in);  // mono8 level 2
    const testsupport::ApeStream stream = streamOf(file);
    size_t cut = stream.seekTable.back() + (stream.end - stream.seekTable.back()) / 2;
    cut += (cut - stream.seekTable[0]) % 4 == 0 ? 1 : 0;  // inside a word
    const std::string in = dir.path("cut.ape");
    writeFile(in, Bytes(file.begin(), file.begin() + long(cut)));
    rows.push_back(
        Decode{"cut inside the last frame", in,
               decodedLines(openingLines(stream),
                            "[AST][INF]Reached end of data:N.\n[AST][WRN]File read reached unexpexted flow.\n"
                            "[AST][ERR]Cannot reverse endian because of invalid length:N.\n"
                            "[AST][INF]Reached end of data:0.\n[AST][WRN]File read reached unexpexted flow.\n"),
               [](const std::vector<Bytes>&) { return std::string(); }}  // what a cut word becomes is not said
            .pcm(in, 22050, 1));
    rows.back().filter = sameLengths;
    rows.back().problems = {"the last APE frame has "};

    // ffmpeg's ID3v2 tag before the header: skipped, and the file decodes as without it.
    const std::string mp3 = dir.path("tag.mp3"), tagged = dir.path("tagged.ape");
    ASSERT_TRUE(shell("ffmpeg -nostdin -y -f lavfi -i anullsrc -t 0.05 -metadata title=Tagged '" + mp3 + "'"));
    Bytes tag = readFile(mp3);
    tag.resize(10 + size_t(tag[6] << 21 | tag[7] << 14 | tag[8] << 7 | tag[9]));
    const Bytes plain = readFile(rows[0].in);
    writeFile(tagged, testsupport::cat({tag, plain}));
    rows.push_back(
        decode("ID3v2 tag before the header", tagged, plain,
               "[AST][WRN]ID3v2 tag of " + std::to_string(tag.size()) + " bytes skipped before the APE header.\n"));
    checkDecodes(rows);
}

}  // namespace
