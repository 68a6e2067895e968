// MPEG audio files made by real encoders, decoded end to end.
#include "DecodeCheck.h"

using namespace blackbox;

namespace {

struct Fixture {
    const char* label;
    uint32_t rate, channels;
    std::string encoder;     // ffmpeg output options
    int id3Major;            // 0: no ID3v2 tag
    std::string tagLines;    // its frames as shown
    std::string id3v1Lines;  // empty: no ID3v1 tag
    size_t leadingUnits;     // the Xing frame
};

std::string hex(uint32_t value, int digits) {
    char text[16];
    snprintf(text, sizeof text, "%0*X", digits, value);
    return text;
}

std::string sync(uint32_t value) { return "[AST][INF]MP3 file sync word mismatch(" + hex(value, 3) + " != 7FF).\n"; }

void decode(const Fixture& f) {
    SCOPED_TRACE(f.label);
    testsupport::TempDir dir;
    DecodeCheck c;
    c.in = dir.path("in.mp3");
    // Two tones, one a channel (folded into one for mono).
    ASSERT_TRUE(shell(
        "ffmpeg -nostdin -y -f lavfi -i 'aevalsrc=0.5*sin(440*2*PI*t)|0.4*sin(660*2*PI*t):s=" + std::to_string(f.rate) +
        ":d=1.5' -fflags +bitexact -ac " + std::to_string(f.channels) + " " + f.encoder + " '" + c.in + "'"));
    std::vector<uint8_t> file = testsupport::readFile(c.in);
    ASSERT_GT(file.size(), 128u);

    c.opening = "[AST][INF]File suffix=mp3, codec=48.\n";
    if (f.id3Major) {
        c.start = 10 + (static_cast<size_t>(file[6] & 0x7F) << 21 | (file[7] & 0x7F) << 14 | (file[8] & 0x7F) << 7 |
                        (file[9] & 0x7F));
        c.opening += "[AST][INF]Version: ID3V2." + std::to_string(f.id3Major) +
                     ".0 headerSize=" + std::to_string(c.start - 10) + "\n" + f.tagLines + sync(0) +
                     "[AST][INF]Skip fill bytes to find first data frame.\n";  // the tag's padding
    } else {
        c.opening += "[AST][INF]MP3 file magic(ID3) mismatch(" + hex(file[0] << 16 | file[1] << 8 | file[2], 8) +
                     " != 00494433).\n[AST][INF]Found no ID3V2 header, treat as raw data frame.\n";
    }
    c.opening += "[AST][INF]parseMp3DataFrameHeader:\n[AST][INF]sampleFrequency=" + std::to_string(f.rate) +
                 "\n[AST][INF]channelMap=" + std::to_string(f.channels) + "(1-Mono/2-Stereo)\n";
    c.opening += f.id3v1Lines.empty()
                     ? "[AST][ERR]Mismatched 'TAG' chunk:" + std::string(file.end() - 128, file.end() - 125) + "\n"
                     : f.id3v1Lines;
    c.closing = (f.id3v1Lines.empty() ? "[AST][INF]Reached end of data:0.\n" : sync(0x2A2)) +
                "[AST][ERR]Failed to parse MP3 data frame header.\n";
    c.end = file.size() - (f.id3v1Lines.empty() ? 0 : 128);
    c.leadingUnits = f.leadingUnits;
    c.channels = static_cast<int>(f.channels);
    decodeAndCheck(c);
}

const std::string kLame = "-c:a libmp3lame ";

TEST(Mp3Decode, Mpeg1LayerThree) {
    const Fixture fixtures[] = {
        {"44.1k stereo cbr, ID3v2.3 and ID3v1", 44100, 2,
         kLame + "-b:a 128k -id3v2_version 3 -metadata title=Sine -metadata artist=Ostrel -write_id3v1 1", 3,
         "TIT2:Sine\nTPE1:Ostrel\n",
         "[AST][INF]ID3V1, title:Sine\n[AST][INF]ID3V1, artist:Ostrel\n[AST][INF]ID3V1, album:\n"
         "[AST][INF]ID3V1, year:\n[AST][INF]ID3V1, comment:\n[AST][INF]ID3V1, track:0\n[AST][INF]ID3V1, genre:255\n",
         1},
        {"48k mono vbr, ID3v2.4", 48000, 1,
         kLame + "-q:a 2 -id3v2_version 4 -metadata title=Mono -metadata album=Tones", 4, "TIT2:Mono\nTALB:Tones\n", "",
         1},
        {"32k stereo, no tags", 32000, 2, kLame + "-b:a 96k -id3v2_version 0 -write_xing 0", 0, "", "", 0},
    };
    for (const Fixture& f : fixtures) decode(f);
}

TEST(Mp3Decode, LowSamplingFrequencies) {
    const Fixture fixtures[] = {
        {"mpeg2 22.05k mono vbr", 22050, 1, kLame + "-q:a 5", 4, "", "", 1},
        {"mpeg2 24k stereo cbr", 24000, 2, kLame + "-b:a 64k", 4, "", "", 1},
        // MPEG 2.5 bit rates agree with every table in use up to index 4 and at index 8.
        {"mpeg2.5 8k mono cbr", 8000, 1, kLame + "-b:a 16k", 4, "", "", 1},
        {"mpeg2.5 11.025k stereo cbr", 11025, 2, kLame + "-b:a 32k", 4, "", "", 1},
    };
    for (const Fixture& f : fixtures) decode(f);
}

TEST(Mp3Decode, LayerTwo) {
    const Fixture fixtures[] = {
        {"48k stereo", 48000, 2, "-c:a mp2 -b:a 192k -f mp2", 0, "", "", 0},
        {"22.05k mono", 22050, 1, "-c:a mp2 -b:a 64k -f mp2", 0, "", "", 0},
    };
    for (const Fixture& f : fixtures) decode(f);
}

}  // namespace
