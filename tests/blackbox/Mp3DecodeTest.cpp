// MPEG audio files made by real encoders, decoded end to end.
#include "DecodeCheck.h"

using namespace blackbox;

namespace {

// The tag's padding, and the ID3v1 tag behind the last frame.
const char kPaddingSync[] = "[AST][INF]MP3 file sync word mismatch(000 != 7FF).\n";
const char kTagSync[] = "[AST][INF]MP3 file sync word mismatch(2A2 != 7FF).\n";
const std::string kJunk = "[AST][INF]MP3 file sync word mismatch(252 != 7FF).\n" + skippedJunk("MP3");

TEST(Mp3Decode, RealEncoders) {
    const std::string lame = "-c:a libmp3lame ";
    const struct {
        const char* label;
        uint32_t rate;
        int channels;
        std::string encoder;     // ffmpeg output options
        int id3Major;            // 0: no ID3v2 tag
        std::string tagLines;    // its frames as shown
        std::string id3v1Lines;  // empty: no ID3v1 tag
        size_t xing;             // 1: a Xing frame ahead of the frames ffmpeg counts
        bool junk = false;       // spliced in before the first frame and the sixth
    } fixtures[] = {
        {"mpeg1 44.1k stereo cbr, ID3v2.3 and ID3v1", 44100, 2,
         lame + "-b:a 128k -id3v2_version 3 -metadata title=Sine -metadata artist=Ostrel -write_id3v1 1", 3,
         "TIT2:Sine\nTPE1:Ostrel\n",
         "[AST][INF]ID3V1, title:Sine\n[AST][INF]ID3V1, artist:Ostrel\n[AST][INF]ID3V1, album:\n"
         "[AST][INF]ID3V1, year:\n[AST][INF]ID3V1, comment:\n[AST][INF]ID3V1, track:0\n[AST][INF]ID3V1, genre:255\n",
         1},
        {"mpeg1 48k mono vbr, ID3v2.4, junk behind the tag and midway", 48000, 1,
         lame + "-q:a 2 -id3v2_version 4 -metadata title=Mono -metadata album=Tones", 4, "TIT2:Mono\nTALB:Tones\n", "",
         1, true},
        {"mpeg1 32k stereo, no tags, no Xing frame", 32000, 2, lame + "-b:a 96k -id3v2_version 0 -write_xing 0", 0, "",
         "", 0},
        {"mpeg2 22.05k mono vbr", 22050, 1, lame + "-q:a 5", 4, "", "", 1},
        {"mpeg2.5 8k stereo cbr 48k", 8000, 2, lame + "-b:a 48k", 4, "", "", 1},
        // Layer II frames are 144 bit rate / rate bytes long at MPEG-2 too, unlike Layer III's.
        {"layer II mpeg2 22.05k mono, junk first and midway", 22050, 1, "-c:a mp2 -b:a 64k -f mp2", 0, "", "", 0, true},
    };
    TempDir dir;
    std::vector<Decode> rows;
    for (const auto& f : fixtures) {
        const std::string in = dir.path(std::to_string(rows.size()) + ".mp3");
        ASSERT_TRUE(encodeTones(in, f.channels, f.rate, f.encoder)) << f.label;
        Bytes file = readFile(in);
        const int size = (file[6] & 0x7F) << 21 | (file[7] & 0x7F) << 14 | (file[8] & 0x7F) << 7 | (file[9] & 0x7F);
        const std::string clean = f.junk ? in + ".clean.mp3" : in;
        if (f.junk) {
            writeFile(clean, file);
            file = withJunk(file,
                            {f.id3Major ? size_t(size) + 10 : 0, size_t(testsupport::ffprobePackets(in)[5].position)});
            writeFile(in, file);
        }
        const std::string junk = f.junk ? kJunk : "";
        std::string opening = "[AST][INF]File suffix=mp3, codec=48.\n";
        if (f.id3Major) {
            opening += "[AST][INF]Version: ID3V2." + std::to_string(f.id3Major) +
                       ".0 headerSize=" + std::to_string(size) + "\n" + f.tagLines + kPaddingSync +
                       "[AST][INF]Skip fill bytes to find first data frame.\n";
        } else {
            char text[96];
            snprintf(text, sizeof text, "[AST][INF]MP3 file magic(ID3) mismatch(%08X != 00494433).\n",
                     file[0] << 16 | file[1] << 8 | file[2]);
            opening += text + std::string("[AST][INF]Found no ID3V2 header, treat as raw data frame.\n");
        }
        opening += junk + summaryLines("parseMp3DataFrameHeader", f.rate, f.channels) +
                   (f.id3v1Lines.empty()
                        ? "[AST][ERR]Mismatched 'TAG' chunk:" + std::string(file.end() - 128, file.end() - 125) + "\n"
                        : f.id3v1Lines);
        const std::string reads =
            junk + (f.id3v1Lines.empty() ? std::string("[AST][INF]Reached end of data:0.\n") : kTagSync) +
            "[AST][ERR]Failed to parse MP3 data frame header.\n";
        rows.push_back(Decode{f.label, in, decodedLines(opening, reads), unitsAre(packetsOf(clean), f.xing)}.pcm(
            clean, f.rate, f.channels));
        // Encoder delay and padding, which ffmpeg trims by the Xing frame.
        rows.back().maxShift = rows.back().surplus = 4000;
        rows.back().tolerance = 1;
    }
    checkDecodes(rows);
}

}  // namespace
