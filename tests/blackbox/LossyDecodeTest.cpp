// Lossy framed formats from real encoders end to end: MPEG audio, AAC in ADTS and LOAS/LATM,
// AC-3 and E-AC-3, WMA and RealMedia; intact and damaged.
#include "ASTLog.h"
#include "DecodeCheck.h"

using namespace blackbox;

namespace {

// The tag's padding, and the ID3v1 tag behind the last frame.
const char kPaddingSync[] = "[AST][INF]MP3 file sync word mismatch(000 != 7FF).\n";
const char kTagSync[] = "[AST][INF]MP3 file sync word mismatch(2A2 != 7FF).\n";
const std::string kMp3Junk = "[AST][INF]MP3 file sync word mismatch(252 != 7FF).\n" + skippedJunk("MP3");

// The frames of a free-format stream of unpadded length `length` from its start.
std::vector<Bytes> freeFrames(const Bytes& file, size_t length) {
    std::vector<Bytes> frames;
    for (size_t at = 0, n; at + 4 <= file.size(); at += n) {
        n = std::min(length + (file[at + 2] >> 1 & 1), file.size() - at);
        frames.emplace_back(file.begin() + long(at), file.begin() + long(at + n));
    }
    return frames;
}

// The same MPEG-1 frames behind bit-rate index 14, each filled up with zeros to that size, which
// ffmpeg decodes alike when no frame reaches back into another's bytes (no bit reservoir).
Bytes indexed(const std::vector<Bytes>& frames, bool layer2, uint32_t rate) {
    Bytes out;
    for (Bytes f : frames) {
        f[2] = uint8_t((f[2] & 0x0D) | 0xE0);
        f.resize(144000 * (layer2 ? 384 : 320) / rate);
        out.insert(out.end(), f.begin(), f.end());
    }
    return out;
}

std::string changed(long at, int rate, int channels, int toRate, int toChannels) {
    char text[160];
    snprintf(text, sizeof text, "%s at sample %ld to %d Hz, %d channel(s); converted to %d Hz, %d channel(s).\n",
             kChangeLine, at, rate, channels, toRate, toChannels);
    return text;
}

// Layers II and III against libavcodec's floating-point decoders, free format included: at full
// accuracy, which these reach exactly.
TEST(Mp3Decode, RealEncoders) {
    const std::string lame = "-c:a libmp3lame ", bare = " -id3v2_version 0 -write_xing 0";
    const struct {
        const char* label;
        uint32_t rate;
        int channels;
        std::string encoder;     // ffmpeg output options, or a command line taking a WAV file
        int id3Major;            // 0: no ID3v2 tag
        std::string tagLines;    // its frames as shown
        std::string id3v1Lines;  // empty: no ID3v1 tag
        size_t xing;             // 1: a Xing frame ahead of the frames ffmpeg counts
        bool junk = false;       // spliced in before the first frame and the sixth
        size_t freeLength = 0;   // free format: the frame length
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
        {"mpeg2 22.05k mono vbr", 22050, 1, lame + "-q:a 5", 4, "", "", 1},
        {"mpeg2.5 8k stereo cbr 48k", 8000, 2, lame + "-b:a 48k", 4, "", "", 1},
        // Layer II frames are 144 bit rate / rate bytes long at MPEG-2 too, unlike Layer III's.
        {"layer II mpeg2 22.05k mono, junk first and midway", 22050, 1, "-c:a mp2 -b:a 64k -f mp2", 0, "", "", 0, true},
        {"layer II 48k stereo 384k", 48000, 2, "-c:a mp2 -b:a 384k -f mp2", 0, "", "", 0},
        {"layer II 32k mono 56k", 32000, 1, "-c:a mp2 -b:a 56k -f mp2", 0, "", "", 0},
        {"layer II twolame 44.1k dual channel", 44100, 2, "twolame --quiet -m d -b 160", 0, "", "", 0},
        {"layer II twolame 16k mono", 16000, 1, "twolame --quiet -b 32", 0, "", "", 0},
        {"free format layer III 44.1k stereo", 44100, 2, "lame --quiet --freeformat --nores -b 200", 0, "", "", 0,
         false, 653},
        {"free format layer III 32k mono", 32000, 1, "lame --quiet --freeformat --nores -b 80", 0, "", "", 0, false,
         360},
        {"free format layer II 48k stereo", 48000, 2, "twolame --quiet --freeformat -b 160", 0, "", "", 0, false, 480},
    };
    TempDir dir;
    std::vector<Decode> rows;
    for (const auto& f : fixtures) {
        const std::string in = dir.path(std::to_string(rows.size()) + ".mp3");
        if (f.encoder[0] == '-')
            ASSERT_TRUE(encodeTones(in, f.channels, f.rate, f.encoder)) << f.label;
        else
            ASSERT_TRUE(encodeTones(in + ".wav", f.channels, f.rate, "") && made(f.encoder + " $W $O", in)) << f.label;
        Bytes file = readFile(in);
        const int size = (file[6] & 0x7F) << 21 | (file[7] & 0x7F) << 14 | (file[8] & 0x7F) << 7 | (file[9] & 0x7F);
        const std::string clean = f.junk ? in + ".clean.mp3" : in;
        if (f.junk) {
            writeFile(clean, file);
            file = withJunk(file, {f.id3Major ? size_t(size) + 10 : 0, sixthFrame(in)});
            writeFile(in, file);
        }
        const std::string junk = f.junk ? kMp3Junk : "";
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
                        ? "[AST][ERR]Mismatched 'TAG' chunk:" +
                              escapeText(reinterpret_cast<const char*>(&file[file.size() - 128]), 3, true) + "\n"
                        : f.id3v1Lines);
        const std::string reads =
            junk +
            (f.freeLength
                 ? "[AST][WRN]Free-format MP3 stream, frame length " + std::to_string(f.freeLength) + " bytes found.\n"
                 : "") +
            (f.id3v1Lines.empty() ? std::string("[AST][INF]Reached end of data:0.\n") : kTagSync) +
            "[AST][ERR]Failed to parse MP3 data frame header.\n";
        const bool layer2 = (file[1] & 6) == 4;
        std::string reference = clean;
        std::vector<Bytes> units = f.freeLength ? freeFrames(file, f.freeLength) : packetsOf(clean);
        if (f.freeLength) writeFile(reference = in + ".indexed.mp3", indexed(units, layer2, f.rate));
        rows.push_back(
            Decode{f.label, in, decodedLines(opening, reads), unitsAre(units, f.freeLength ? 0 : f.xing)}.pcm(
                reference, f.rate, f.channels));
        rows.back().referenceInput = layer2 ? "-c:a mp2float" : "-c:a mp3float";
        // Encoder delay and padding, which ffmpeg trims by the Xing frame.
        rows.back().maxShift = rows.back().surplus = 4000;
    }

    // Streams joined: mono, stereo, mono frames; 44.1 then 48 kHz. The output keeps the first. Their
    // frames have neither tags nor a Xing frame.
    const std::string mono = dir.path("mono.mp3"), stereo = dir.path("stereo.mp3"), at48 = dir.path("48.mp3");
    ASSERT_TRUE(encodeTones(mono, 1, 44100, lame + "-b:a 64k" + bare) &&
                encodeTones(stereo, 2, 44100, lame + "-b:a 128k" + bare) &&
                encodeTones(at48, 2, 48000, lame + "-b:a 128k" + bare));
    const Bytes monoFile = readFile(mono), stereoFile = readFile(stereo);
    writeFile(dir.path("modes.mp3"), testsupport::cat({monoFile, stereoFile, monoFile}));
    writeFile(dir.path("rates.mp3"), testsupport::cat({stereoFile, readFile(at48)}));
    const long monoEnd = long(packetsOf(mono).size() * 1152),
               stereoEnd = monoEnd + long(packetsOf(stereo).size() * 1152);
    for (const char* name : {"modes", "rates"}) {
        const std::string in = dir.path(name + std::string(".mp3"));
        const Bytes file = readFile(in);
        const bool modes = name[0] == 'm';
        char text[96];
        snprintf(text, sizeof text, "[AST][INF]MP3 file magic(ID3) mismatch(%08X != 00494433).\n",
                 file[0] << 16 | file[1] << 8 | file[2]);
        const std::string opening =
            "[AST][INF]File suffix=mp3, codec=48.\n" + std::string(text) +
            "[AST][INF]Found no ID3V2 header, treat as raw data frame.\n" +
            summaryLines("parseMp3DataFrameHeader", 44100, modes ? 1 : 2) +
            "[AST][ERR]Mismatched 'TAG' chunk:" +
            escapeText(reinterpret_cast<const char*>(&file[file.size() - 128]), 3, true) + "\n";
        rows.push_back(Decode{name, in,
                              decodedLines(opening, "[AST][INF]Reached end of data:0.\n"
                                                    "[AST][ERR]Failed to parse MP3 data frame header.\n"),
                              unitsAre(packetsOf(in))});
        // ffmpeg mixes the stereo frames down as the service does; the 48 kHz ones are compared by
        // their length only.
        rows.back().pcm(modes ? in : stereo, 44100, modes ? 1 : 2).maxShift = 2000;
        rows.back().surplus = modes ? 2000 : 1300 * 44100 / 1000;
        rows.back().changes = modes ? changed(monoEnd, 44100, 2, 44100, 1) + changed(stereoEnd, 44100, 1, 44100, 1)
                                    : changed(stereoEnd - monoEnd, 48000, 2, 44100, 2);
    }
    checkDecodes(rows);
}

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
        if (f.rewrite == Rewrite::ExplicitRate) {  // FFmpeg's AAC decoder refuses explicit frequencies
            rows.back().problems = {"invalid sampling rate index 15"};
            rows.back().exitCode = 255;
        } else {
            rows.back().pcm(clean, f.rate, f.channels);
        }
    }
    checkDecodes(rows);
}

const std::string kLastRead = "[AST][INF]Reached end of data:0.\n[AST][ERR]Failed to parse EAC fixed header.\n";

Decode decode(const std::string& label, const std::string& in, const std::string& reads,
              const std::vector<Bytes>& units, const std::string& opening = "") {
    return {label, in,
            decodedLines("[AST][INF]File suffix=" + in.substr(in.size() - 3) + ", codec=80.\n" + opening, reads),
            unitsAre(units)};
}

// "JUNKJU": the identifier in the sixth byte is 10.
const std::string kEacJunk = "[AST][ERR]EAC file bit stream id error(bitStreamId=10).\n" + skippedJunk("EAC");

// AC-3 frame sizes come from a table by rate and bit rate (44.1 kHz adds a word to some frames);
// E-AC-3 frames carry their size, whatever the rate.
TEST(EacDecode, RealAndDamagedStreams) {
    const struct {
        const char *label, *options, *suffix;
        uint32_t rate;
        int channels;
    } fixtures[] = {
        {"ac3 44.1k 5.1 448k", "-c:a ac3 -b:a 448k", "ac3", 44100, 6},
        {"ac3 32k mono 64k", "-c:a ac3 -b:a 64k", "ac3", 32000, 1},
        {"eac3 48k 5.1 384k", "-c:a eac3 -b:a 384k -f eac3", "ec3", 48000, 6},
        {"eac3 32k mono 48k", "-c:a eac3 -b:a 48k -f eac3", "ec3", 32000, 1},
    };
    TempDir dir;
    std::vector<Decode> rows;
    for (const auto& f : fixtures) {
        const std::string in = dir.path("real" + std::to_string(rows.size()) + "." + f.suffix);
        ASSERT_TRUE(encodeTones(in, f.channels, f.rate, f.options)) << f.label;
        rows.push_back(decode(f.label, in, kLastRead, packetsOf(in)).pcm(in, f.rate, f.channels));
    }

    // A damaged header is skipped with the rest of its frame; the frames around it are decoded.
    const std::string whole = dir.path("whole.ac3");
    ASSERT_TRUE(encodeTones(whole, 2, 48000, "-c:a ac3 -b:a 128k"));
    const Bytes file = readFile(whole);
    const std::vector<Bytes> frames = packetsOf(whole);
    const size_t frame = 512;  // every frame at 48 kHz and 128 kbit/s
    ASSERT_EQ(file.size(), frames.size() * frame);
    // The frames but one, and a file of them for the reference.
    auto without = [&](size_t lost) {
        std::vector<Bytes> kept = frames;
        kept.erase(kept.begin() + long(lost));
        Bytes rest = file;
        rest.erase(rest.begin() + long(lost * frame), rest.begin() + long(lost * frame + frame));
        writeFile(dir.path("without" + std::to_string(lost) + ".ac3"), rest);
        return kept;
    };
    const std::vector<Bytes> without0 = without(0), without5 = without(5);
    const std::string skippedFrame = "[AST][WRN]Skipped 512 bytes to the next EAC frame header.\n";

    Bytes badId = file, sizeIndex38 = file;
    badId[5 * frame + 5] = static_cast<uint8_t>((badId[5 * frame + 5] & 7) | 9 << 3);
    sizeIndex38[4] = 38;
    // The E-AC-3 stream above, junk spliced in before its first frame and its sixth.
    const std::string eac3 = rows[2].in;
    writeFile(dir.path("junk.ec3"), withJunk(readFile(eac3), {0, sixthFrame(eac3)}));
    const Bytes damaged[] = {badId, sizeIndex38, Bytes(file.begin(), file.end() - 100), withJunk(file, {0, 5 * frame})};
    for (int i = 0; i < 4; ++i) writeFile(dir.path(std::to_string(i) + ".ac3"), damaged[i]);
    std::vector<Bytes> cutUnits = frames;
    cutUnits.back().resize(frame - 100);
    const size_t n = rows.size();
    rows.insert(
        rows.end(),
        {
            decode("bit stream id 9 in frame 5", dir.path("0.ac3"),
                   "[AST][ERR]EAC file bit stream id error(bitStreamId=9).\n" + skippedFrame + kLastRead, without5)
                .pcm(dir.path("without5.ac3"), 48000, 2),
            decode("frame size index 38 in frame 0", dir.path("1.ac3"),
                   "[AST][ERR]Invalid frame length(-1).\n" + skippedFrame + kLastRead, without0)
                .pcm(dir.path("without0.ac3"), 48000, 2),
            // The cut frame reaches the decoder as it is, which refuses it.
            decode("cut inside the last frame", dir.path("2.ac3"),
                   "[AST][INF]Reached end of data:" + std::to_string(frame - 106) + ".\n" + kLastRead, cutUnits)
                .pcm(whole, 48000, 2),
            decode("ac3, junk first and midway", dir.path("3.ac3"), kEacJunk + kLastRead, frames, kEacJunk)
                .pcm(whole, 48000, 2),
            decode("eac3, junk first and midway", dir.path("junk.ec3"), kEacJunk + kLastRead, packetsOf(eac3), kEacJunk)
                .pcm(eac3, 48000, 6),
        });
    rows[n + 2].uncovered = 1536;  // samples a frame
    rows[n + 2].problems = {"where the frame header says 512"};
    checkDecodes(rows);
}

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
