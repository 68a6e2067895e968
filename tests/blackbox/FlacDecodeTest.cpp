// FLAC files end to end: the messages, every frame handed to the decoder (the last one up to the
// end of the file), and the PCM against ffmpeg's decode of the whole file.
#include <algorithm>
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
// Without a maximum frame size the window doubles until it does. The last frame runs to the end.
std::string expectedReads(const Bytes& bytes, const std::vector<Packet>& frames, long window, bool grows) {
    std::string lines;
    const long end = static_cast<long>(bytes.size());
    long start = frames[0].position, readEnd = start;
    bool atEnd = false;
    auto read = [&](long wanted) {
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
        while (!found() && !atEnd && grows) {
            const long grown = std::min(2 * window, window + end - readEnd + 1);
            lines += "[AST][WRN]FLAC frame header not found in " + std::to_string(window) + " bytes, window grown to " +
                     std::to_string(grown) + " bytes.\n";
            window = grown;
            read(window - (readEnd - start));
        }
        if (!found()) break;
        start = frames[k].position;
    }
    read(window);  // the call after the last frame
    return lines;
}

// Sync look-alikes (FF, F8 to FB) the searches pass over print a line each; they are not counted.
std::string withoutLookalikes(const std::string& text) {
    static const std::regex lookalike("\\[AST\\]\\[ERR\\]FLAC file (CRC-8 check|UTF-8 string) error\\(.*\n");
    return std::regex_replace(text, lookalike, "");
}

// A decode of `file`, written to `in`, whose frames ffprobe finds at `packets`: every frame, and
// the PCM of the whole file.
Decode decode(const std::string& label, const std::string& in, const Bytes& file, const std::vector<Packet>& packets,
              uint32_t rate, int channels, int bits, const std::string& opening) {
    writeFile(in, file);
    const long maxFrameSize = long(file[15] << 16 | file[16] << 8 | file[17]);
    const std::string reads = expectedReads(file, packets, std::max(16384L, maxFrameSize + 32), maxFrameSize == 0);
    Decode d{label, in, decodedLines(kSuffix + opening, reads), unitsAre(packetsOf(in))};
    d.filter = withoutLookalikes;
    return d.pcm(in, rate, channels, bits > 16 ? 4 : 2);
}

TEST(FlacDecode, RealEncodersAndBrokenFiles) {
    const struct {
        const char *label, *make;
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

    // Cut inside frame 5 of the first file: frames 0 to 4 come out, then what is left of frame 5.
    file = readFile(rows[0].in);
    const std::vector<Packet> packets = testsupport::ffprobePackets(rows[0].in);
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

}  // namespace
