// FLAC files end to end: the messages, every frame handed to the decoder (the last one up to the
// end of the file), and the PCM against ffmpeg's decode of the whole file.
#include <algorithm>
#include <cstdlib>
#include <regex>

#include "DecodeCheck.h"

using namespace blackbox;
using testsupport::Packet;

namespace {

const char kSuffix[] = "[AST][INF]File suffix=flac, codec=96.\n";

// One more metadata block right behind STREAMINFO, which encoders write first.
Bytes withBlock(const Bytes& flac, uint8_t type) {
    Bytes out;
    out.reserve(flac.size() + 36);
    out.assign(flac.begin(), flac.begin() + 42);
    const uint8_t last = out[4] & 0x80;
    out[4] &= 0x7F;
    out.insert(out.end(), {static_cast<uint8_t>(last | type), 0, 0, 32, 0, 0, 0, 3});  // picture type 3
    out.resize(out.size() + 28, 0);
    out.insert(out.end(), flac.begin() + 42, flac.end());
    return out;
}

// What the reads must print, from where ffprobe finds the frames: every window starts at a frame
// and holds `window` bytes (fewer at the end of the file); the next frame's header ends a frame
// when it starts 16 bytes before the window's end, or anywhere in it at the end of the file.
// Otherwise the window doubles until it does. The last frame runs to the end. A window left with
// more than a frame and the first window's bytes behind the frame reads them again.
std::string expectedReads(const Bytes& bytes, const std::vector<Packet>& frames, long window) {
    std::string lines;
    const long end = static_cast<long>(bytes.size()), first = window;
    long start = frames[0].position, readEnd = start;
    bool atEnd = false;
    auto read = [&](long wanted) {
        atEnd = false;
        const long got = std::min(wanted, end - readEnd);
        if (got < wanted) {
            lines += "[AST][INF]Reached end of data:" + std::to_string(got) + ".\n";
            window -= wanted - got;
            atEnd = true;
        }
        readEnd += got;
    };
    for (size_t k = 1;; ++k) {
        read(window - (readEnd - start));
        auto found = [&] { return k < frames.size() && frames[k].position < start + window - (atEnd ? 1 : 16); };
        while (!found() && !atEnd) {
            const long grown = std::min(2 * window, window + end - readEnd + 1);
            lines += "[AST][WRN]FLAC frame header not found in " + std::to_string(window) + " bytes, window grown to " +
                     std::to_string(grown) + " bytes.\n";
            window = grown;
            read(window - (readEnd - start));
        }
        if (!found()) break;
        const long carried = start + window - frames[k].position;
        if (carried > first && carried > frames[k].position - start) window = first, readEnd = frames[k].position;
        start = frames[k].position;
    }
    read(window);  // the call after the last frame
    return lines;
}

// Sync look-alikes (FF, F8 to FB) the searches pass over print a line each, and those that parse
// are counted at the end; they are not counted here.
std::string withoutLookalikes(const std::string& text) {
    static const std::regex lookalike(
        "\\[AST\\]\\[(ERR\\]FLAC file (CRC-8 check|UTF-8 string) error\\(|INF\\]FLAC frame headers refused).*\n");
    return std::regex_replace(text, lookalike, "");
}

// A decode of `file`, written to `in`, whose frames ffprobe finds at `packets`: every frame, and
// the PCM of the whole file. A stream without STREAMINFO has its frames and PCM from `reference`.
Decode decode(const std::string& label, const std::string& in, const Bytes& file, const std::vector<Packet>& packets,
              uint32_t rate, int channels, int bits, const std::string& opening, std::string reference = "") {
    writeFile(in, file);
    const long maxFrameSize = reference.empty() ? long(file[15] << 16 | file[16] << 8 | file[17]) : 0;
    const std::string reads = expectedReads(file, packets, std::max(16384L, maxFrameSize + 32));
    if (reference.empty()) reference = in;
    Decode d{label, in, decodedLines(kSuffix + opening, reads), unitsAre(packetsOf(reference))};
    d.filter = withoutLookalikes;
    return d.pcm(reference, rate, channels, bits > 16 ? 4 : 2);
}

// The CRC of `bits` bits, most significant bit first, of bytes `from` to `to`: FLAC's CRC-8 and
// CRC-16, for frames rewritten here.
uint16_t crc(const Bytes& b, size_t from, size_t to, int bits, uint32_t poly) {
    uint32_t c = 0;
    const uint32_t top = 1u << (bits - 1), mask = (1u << bits) - 1;
    for (size_t i = from; i < to; ++i) {
        c ^= uint32_t(b[i]) << (bits - 8);
        for (int k = 0; k < 8; ++k) c = ((c & top) ? (c << 1) ^ poly : c << 1) & mask;
    }
    return uint16_t(c);
}

// A file of fixed block size with its `frames` renumbered by their first sample, as streams of
// variable block sizes number them.
Bytes variableBlocking(const Bytes& in, const std::vector<Packet>& frames, uint64_t blockSize) {
    Bytes out(in.begin(), in.begin() + frames[0].position);
    for (size_t k = 0; k < frames.size(); ++k) {
        const auto at = in.begin() + frames[k].position;
        const size_t start = out.size(), code = at[2] >> 4, rate = at[2] & 15;
        size_t number = 1;
        while (number < 7 && (at[4] << number & 0x80)) ++number;
        const long extra = (code == 6) + 2 * (code == 7) + (rate == 12) + 2 * (rate == 13 || rate == 14);
        out.insert(out.end(), {at[0], uint8_t(at[1] | 1), at[2], at[3]});
        const uint64_t v = k * blockSize;
        const int n = v < 0x80 ? 1 : v < 0x800 ? 2 : v < 0x10000 ? 3 : v < 0x200000 ? 4 : 5;
        out.push_back(uint8_t(n == 1 ? v : (0xFF00 >> n) | v >> (6 * (n - 1))));
        for (int i = n - 2; i >= 0; --i) out.push_back(uint8_t(0x80 | (v >> (6 * i) & 0x3F)));
        const auto rest = at + 4 + long(number > 1 ? number : 1);
        out.insert(out.end(), rest, rest + extra);
        out.push_back(uint8_t(crc(out, start, out.size(), 8, 0x07)));
        out.insert(out.end(), rest + extra + 1, at + frames[k].size - 2);
        const uint16_t footer = crc(out, start, out.size(), 16, 0x8005);
        out.insert(out.end(), {uint8_t(footer >> 8), uint8_t(footer)});
    }
    return out;
}

// A music-like signal with stretches of full-scale noise, `seconds` long, stereo 44.1 kHz.
std::string musicWithNoise(int seconds) {
    const std::string tones = "0.3*sin(2*PI*(220+40*sin(0.2*t))*t)+0.1*sin(2*PI*1250*t)";
    const std::string c = "if(lt(mod(t,50),4),2*random(0)-1," + tones + ")|if(lt(mod(t,50),4),2*random(1)-1," +
                          tones + "+0.1*sin(2*PI*2100*t))";
    return "ffmpeg -nostdin -y -f lavfi -i \"aevalsrc='" + c + "':s=44100:d=" + std::to_string(seconds) +
           "\" -c:a pcm_s16le $W";
}

// An AIFF of `bits` significant bits in a container of whole bytes, which flac takes at its word.
std::string aiffOfBits(int bits, const std::string& container) {
    const std::string scale = std::to_string(1L << (bits - 1)), b = std::to_string(bits);
    return "$S1 -af 'aformat=channel_layouts=stereo,aeval=round(val(ch)*0.5*" + scale + ")/" + scale + ":c=same' -c:a " +
           container +
           " -f aiff $W && printf \"$(printf '\\\\%03o' " + b +
           ")\" | dd of=$W bs=1 seek=27 conv=notrunc status=none && flac -s -f --lax -o $O $W";
}

TEST(FlacDecode, RealEncodersAndBrokenFiles) {
    const struct {
        std::string label, make;
        uint32_t rate;
        int channels, bits;
        // Metadata block types to add, a byte each, and what the reader says about them.
        std::string blocks, opening;
    } fixtures[] = {
        {"flac 16 stereo 44.1k; seek table, comment, padding, picture, application",
         "$S1 -ac 2 -ar 44100 $W && flac -s -f -o $O $W", 44100, 2, 16, "\x06\x02", ""},
        {"flac 24 mono 12k, rate in kHz, block 192: 188 frames",
         "$S3 -ar 12000 -c:a pcm_s24le $W && flac -s -f -b 192 -o $O $W", 12000, 1, 24, "", ""},
        {"flac 16 stereo 11.025k, block 16384, rate in Hz",
         "$S3 -ac 2 -ar 11025 $W && flac -s -f --lax -b 16384 -o $O $W", 11025, 2, 16, "", ""},
        {"flac 24 5.1 96k", "$S1 -ac 6 -ar 96000 -c:a pcm_s24le $W && flac -s -f -o $O $W", 96000, 6, 24, "", ""},
        // Frames of about 100 KB, each close to STREAMINFO's maximum: the window holds the largest.
        {"flac 24 stereo 48k noise, large frames",
         "ffmpeg -nostdin -y -f lavfi -i anoisesrc=d=1:a=1:seed=8 -ac 2 -ar 48000 -c:a pcm_s24le $W && "
         "flac -s -f --lax -b 16384 -o $O $W",
         48000, 2, 24, "", ""},
        {"ffmpeg 24 stereo 96k, block 8192",
         "$S1 -ac 2 -ar 96000 -sample_fmt s32 -bits_per_raw_sample 24 -c:a flac -frame_size 8192 $O", 96000, 2, 24, "",
         ""},
        {"ffmpeg 16 5.1 8k, reserved metadata type", "$S2 -ac 6 -ar 8000 -c:a flac $O", 8000, 6, 16, "\x63",
         "[AST][WRN]FLAC file metadata type is reserved(type=99).\n"},
        {"flac verbatim frames of full-scale noise",
         "ffmpeg -nostdin -y -f lavfi -i anoisesrc=d=2:a=1:seed=3 -ac 2 $W && flac -s -f "
         "--disable-constant-subframes --disable-fixed-subframes --max-lpc-order=0 -o $O $W",
         48000, 2, 16, "", ""},
        {"flac block 16", musicWithNoise(1) + " && flac -s -f --lax -b 16 -o $O $W", 44100, 2, 16, "", ""},
        {"flac block 4608", musicWithNoise(6) + " && flac -s -f -b 4608 -o $O $W", 44100, 2, 16, "", ""},
        {"flac block 65535", musicWithNoise(4) + " && flac -s -f --lax -b 65535 -o $O $W", 44100, 2, 16, "", ""},
        {"flac 8 stereo", "$S1 -ac 2 -c:a pcm_u8 $W && flac -s -f -o $O $W", 44100, 2, 8, "", ""},
        {"flac 12 stereo", aiffOfBits(12, "pcm_s16be"), 44100, 2, 12, "", ""},
        {"flac 20 stereo", aiffOfBits(20, "pcm_s24be"), 44100, 2, 20, "", ""},
        // No sample size code: STREAMINFO gives it.
        {"flac 15 stereo", aiffOfBits(15, "pcm_s16be"), 44100, 2, 15, "", ""},
        {"ffmpeg 16 5.1 44.1k", musicWithNoise(3) + " && ffmpeg -nostdin -y -i $W -ac 6 -c:a flac $O", 44100, 6, 16,
         "", ""},
        {"flac 16 7.1 48k", "$S1 -ac 8 -ar 48000 $W && flac -s -f --channel-map=none -o $O $W", 48000, 8, 16, "", ""},
    };
    TempDir dir;
    std::vector<Decode> rows;
    for (const auto& f : fixtures) {
        const std::string in = dir.path(std::to_string(rows.size()) + ".flac");
        ASSERT_TRUE(made(f.make, in)) << f.label;
        Bytes file = readFile(in);
        for (char type : f.blocks) file = withBlock(file, uint8_t(type));
        writeFile(in, file);
        rows.push_back(
            decode(f.label, in, file, testsupport::ffprobePackets(in), f.rate, f.channels, f.bits, f.opening));
    }
    // The noise file without a maximum frame size: the window grows to each large frame.
    Bytes file = readFile(rows[4].in);
    std::fill(file.begin() + 15, file.begin() + 18, 0);
    rows.push_back(decode("no maximum frame size", dir.path("nomax.flac"), file,
                          testsupport::ffprobePackets(rows[4].in), 48000, 2, 24, ""));
    // The block-4608 file from its tenth frame, at the start and behind 300 bytes of junk; and
    // renumbered by sample.
    file = readFile(rows[9].in);
    std::vector<Packet> packets = testsupport::ffprobePackets(rows[9].in);
    writeFile(dir.path("variable.flac"), variableBlocking(file, packets, 4608));
    rows.push_back(decode("variable block size", dir.path("variable.flac"), readFile(dir.path("variable.flac")),
                          testsupport::ffprobePackets(dir.path("variable.flac")), 44100, 2, 16, ""));
    const Bytes head(file.begin(), file.begin() + packets[0].position), tail(file.begin() + packets[9].position, file.end());
    Bytes reference = head;
    reference.insert(reference.end(), tail.begin(), tail.end());
    writeFile(dir.path("ref.flac"), reference);
    for (long junk : {0L, 300L}) {
        std::vector<Packet> cut(packets.begin() + 9, packets.end());
        for (Packet& p : cut) p.position += junk - packets[9].position;
        Bytes stream(static_cast<size_t>(junk), 0x5A);
        stream.insert(stream.end(), tail.begin(), tail.end());
        rows.push_back(decode("cut at frame 9, " + std::to_string(junk) + " bytes of junk",
                              dir.path("cut" + std::to_string(junk) + ".flac"), stream, cut, 44100, 2, 16,
                              "[AST][WRN]FLAC stream without STREAMINFO starts at byte " + std::to_string(junk) + ".\n",
                              dir.path("ref.flac")));
    }

    // Cut inside frame 5 of the first file: frames 0 to 4 come out, then what is left of frame 5.
    file = readFile(rows[0].in);
    packets = testsupport::ffprobePackets(rows[0].in);
    rows.push_back(decode("cut in frame 5", dir.path("cut.flac"),
                          Bytes(file.begin(), file.begin() + packets[5].position + packets[5].size / 2),
                          {packets.begin(), packets.begin() + 6}, 44100, 2, 16, ""));
    rows.back().problems = {"unit 6: the frame does not decode"};
#if !defined(OSTREL_SANITIZED_ADDRESS) && !defined(OSTREL_SANITIZED_THREAD)
    // No thread for the frame pool (the third, behind the worker and the reader thread): the
    // frames decode one after another, to the same PCM.
    rows[1].env = {
        {"LD_PRELOAD", OSTREL_FAIL_THREAD_SHIM}, {"OSTREL_FAIL_THREAD", "3"}, {"HOSTAUDIO_DECODE_THREADS", "2"}};
    rows[1].problems = {"hostaudio: cannot start a decoding thread (Resource temporarily unavailable): frames decode "
                        "one after another\n"};
#endif
    // A block of the invalid type 127: the walk stops at it, and the bytes there are no frame header.
    writeFile(dir.path("invalid.flac"), withBlock(file, 127));
    rows.push_back({"metadata block of type 127", dir.path("invalid.flac"),
                    kSuffix + std::string("[AST][ERR]FLAC file metadata type error(type=127).\n") +
                        "[AST][ERR]Failed to parse meta header.\n[AST][ERR]FLAC file sync word error(syncWord=1FC0).\n"
                        "[AST][ERR]Invalid audio data reader.\n",
                    nullptr, 255});
    checkDecodes(rows);
}

// Long files of noisy stretches hold many sync look-alikes that pass their CRC-8: every frame must
// still come out whole. Left to the plain build: the other builds look for what one short file shows.
TEST(FlacDecode, TenMinuteFiles) {
    if (getenv("OSTREL_ONE_DECODE_PER_FORMAT") != nullptr) GTEST_SKIP();
    TempDir dir;
    const std::string master = dir.path("master.wav"), looped = "ffmpeg -nostdin -y -stream_loop 11 -i '" + master + "' ";
    ASSERT_TRUE(made(musicWithNoise(50), master.substr(0, master.size() - 4)));
    std::vector<Decode> rows;
    for (const std::string& make : {looped + "-c:a flac $O", looped + "$W && flac -s -f -0 -o $O $W",
                                   looped + "$W && flac -s -f -8 -o $O $W"}) {
        const std::string in = dir.path(std::to_string(rows.size()) + ".flac");
        ASSERT_TRUE(made(make, in)) << make;
        rows.push_back(decode(make, in, readFile(in), testsupport::ffprobePackets(in), 44100, 2, 16, ""));
    }
    checkDecodes(rows);
    // The format's own decoder agrees too, byte for byte.
    for (const Decode& d : rows) {
        const std::string raw = d.in + ".raw";
        ASSERT_EQ(0, std::system(("flac -d -s -f --force-raw-format --endian=little --sign=signed -o '" + raw + "' '" +
                                  d.in + "'")
                                     .c_str()));
        EXPECT_TRUE(readFile(raw) == readFile(d.in + d.save)) << d.label << ": differs from flac -d";
    }
}

}  // namespace
