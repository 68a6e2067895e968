// FLAC files end to end: the messages (the header search's included), the frames handed to the
// decoder (all but the last), and the PCM against ffmpeg's decode of the same frames.
#include <algorithm>
#include <regex>

#include "DecodeCheck.h"

using namespace blackbox;
using testsupport::Packet;

namespace {

const char kSuffix[] = "[AST][INF]File suffix=flac, codec=96.\n";

// $S<seconds> is ffmpeg making a 440 Hz sine of that length, $W a WAV file, $O the output.
std::string command(std::string c, const std::string& out) {
    const std::pair<std::string, std::string> words[] = {
        {"$O", "'" + out + "'"},
        {"$W", "'" + out + ".wav'"},
        {"$S", "ffmpeg -nostdin -y -f lavfi -i sine=frequency=440:duration="}};
    for (const auto& w : words)
        for (size_t at; (at = c.find(w.first)) != std::string::npos;) c.replace(at, 2, w.second);
    return c;
}

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

struct Expected {
    std::string lines;      // end of data and the final search failure
    size_t frames = 0;      // frames handed out
    size_t lookalikes = 0;  // sync look-alikes (FF, F8 to FB) the searches pass over, one line each
};

// What the reads must print, from where ffprobe finds the frames: every window starts at a frame
// and holds `window` bytes (fewer at the end of the file); the next frame's header ends a frame
// when it starts at least 16 bytes before the window's end.
Expected expectedReads(const Bytes& bytes, const std::vector<Packet>& frames, long window) {
    Expected e;
    const long end = static_cast<long>(bytes.size());
    long start = frames[0].position, readEnd = start;
    for (size_t k = 0;; ++k) {
        const long wanted = window - (readEnd - start), got = std::min(wanted, end - readEnd);
        if (got < wanted) {
            e.lines += "[AST][INF]Reached end of data:" + std::to_string(got) + ".\n";
            window = readEnd - start + got;
        }
        readEnd += got;
        const bool found = k + 1 < frames.size() && frames[k + 1].position < start + window - 16;
        const long stop = found ? frames[k + 1].position : start + window - 16;
        for (long i = start + 1; i < stop; ++i)
            if (bytes[i] == 0xFF && (bytes[i + 1] & 0xFC) == 0xF8) ++e.lookalikes;
        if (!found) {
            e.lines += "[AST][ERR]Failed to find header, maybe file reading buffer is NOT enough.\n";
            return e;
        }
        ++e.frames;
        start = frames[k + 1].position;
    }
}

// The lines without the look-alikes' lines, which are counted on a last line.
std::string countLookalikes(const std::string& text) {
    static const std::regex lookalike("\\[AST\\]\\[ERR\\]FLAC file (CRC-8 check|UTF-8 string) error\\(.*\n");
    const auto count = std::distance(std::sregex_iterator(text.begin(), text.end(), lookalike), std::sregex_iterator());
    return std::regex_replace(text, lookalike, "") + "look-alikes:" + std::to_string(count) + "\n";
}

// A decode of `file`, written to `in`, whose frames ffprobe finds at `packets`; the reference is
// ffmpeg's decode of the frames the reader hands out.
Decode decode(const std::string& label, const std::string& in, const Bytes& file, const std::vector<Packet>& packets,
              uint32_t rate, int channels, int bits, const std::string& opening, Expected& e) {
    writeFile(in, file);
    e = expectedReads(file, packets, std::max(16384L, long(file[15] << 16 | file[16] << 8 | file[17])));
    std::vector<Bytes> frames = packetsOf(in);
    frames.resize(e.frames);
    writeFile(in + ".head.flac", Bytes(file.begin(), file.begin() + packets[e.frames].position));
    Decode d(label, in, decodedLines(kSuffix + opening, e.lines) + "look-alikes:" + std::to_string(e.lookalikes) + "\n",
             unitsAre(frames));
    d.filter = countLookalikes;
    return d.pcm(in + ".head.flac", rate, channels, bits > 16 ? 4 : 2);
}

TEST(FlacDecode, RealEncodersAndBrokenFiles) {
    const struct {
        const char* label;
        const char* make;
        uint32_t rate;
        int channels, bits;
        std::vector<uint8_t> blocks;  // metadata block types to add
        std::string opening;          // what the reader says about them
    } fixtures[] = {
        {"flac 16 stereo 44.1k; seek table, comment, padding, picture, application",
         "$S1 -ac 2 -ar 44100 $W && flac -s -f -o $O $W", 44100, 2, 16, {6, 2}, ""},
        {"flac 24 mono 12k, rate in kHz, block 192: 188 frames",
         "$S3 -ar 12000 -c:a pcm_s24le $W && flac -s -f -b 192 -o $O $W", 12000, 1, 24, {}, ""},
        {"flac 16 stereo 11.025k, block 16384, rate in Hz",
         "$S3 -ac 2 -ar 11025 $W && flac -s -f --lax -b 16384 -o $O $W", 11025, 2, 16, {}, ""},
        // Frames of 40 KB: STREAMINFO raises the window. The loud part comes last, so that the
        // largest frame, which its own size as window cannot delimit, is the last one anyway.
        {"flac 24 stereo 48k noise, large frames",
         "ffmpeg -nostdin -y -f lavfi -i anoisesrc=d=0.7:a=0.05:seed=7 -f lavfi -i anoisesrc=d=0.3:a=1:seed=8 "
         "-filter_complex '[0][1]concat=n=2:v=0:a=1' -ac 2 -ar 48000 -c:a pcm_s24le $W && "
         "flac -s -f --lax -b 16384 -o $O $W",
         48000, 2, 24, {}, ""},
        {"ffmpeg 24 stereo 192k, block 8192",
         "$S1 -ac 2 -ar 192000 -sample_fmt s32 -bits_per_raw_sample 24 -c:a flac -frame_size 8192 $O", 192000, 2, 24,
         {}, ""},
        {"ffmpeg 16 5.1 8k, reserved metadata type", "$S2 -ac 6 -ar 8000 -c:a flac $O", 8000, 6, 16, {99},
         "[AST][WRN]FLAC file metadata type is reserved(type=99).\n"},
    };
    TempDir dir;
    std::vector<Decode> rows;
    Expected e;
    size_t lookalikes = 0;
    for (const auto& f : fixtures) {
        const std::string in = dir.path(std::to_string(rows.size()) + ".flac");
        ASSERT_TRUE(shell(command(f.make, in))) << f.label;
        Bytes file = readFile(in);
        for (uint8_t type : f.blocks) file = withBlock(file, type);
        writeFile(in, file);
        const std::vector<Packet> packets = testsupport::ffprobePackets(in);
        rows.push_back(decode(f.label, in, file, packets, f.rate, f.channels, f.bits, f.opening, e));
        EXPECT_EQ(packets.size() - 1, e.frames) << f.label;
        lookalikes += e.lookalikes;
    }
    EXPECT_GT(lookalikes, 0u) << "no false sync code with a bad CRC-8 in any fixture";

    // Cut inside frame 5 of the first file: frames 0 to 4 come out.
    const Bytes file = readFile(rows[0].in);
    const std::vector<Packet> packets = testsupport::ffprobePackets(rows[0].in);
    rows.push_back(decode("cut in frame 5", dir.path("cut.flac"),
                          Bytes(file.begin(), file.begin() + packets[5].position + packets[5].size / 2),
                          {packets.begin(), packets.begin() + 6}, 44100, 2, 16, "", e));
    EXPECT_EQ(5u, e.frames);
    // A block of the invalid type 127: the walk stops at it, and the bytes there are no frame header.
    writeFile(dir.path("invalid.flac"), withBlock(file, 127));
    rows.emplace_back(
        "metadata block of type 127", dir.path("invalid.flac"),
        kSuffix + std::string("[AST][ERR]FLAC file metadata type error(type=127).\n") +
            "[AST][ERR]Failed to parse meta header.\n[AST][ERR]FLAC file sync word error(syncWord=1FC0).\n"
            "[AST][ERR]Invalid audio data reader.\n",
        nullptr, 255);
    checkDecodes(rows);
}

}  // namespace
