// FLAC files end to end: the messages (the header search's included), the frames handed to the
// decoder (all but the last), and the PCM against ffmpeg's decode of the same frames.
#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>

#include "ParallelRuns.h"
#include "TestSupport.h"
#include "ToolRunner.h"

using namespace blackbox;
using testsupport::Packet;
using testsupport::TempDir;

namespace {

const char kEnd[] = "[AST][WRN]Read audio data stopped.\n[AST][INF]Decoder(decoder0) is working still, waiting...\n";
const char kNoHeader[] = "[AST][ERR]Failed to find header, maybe file reading buffer is NOT enough.\n";

// $S<seconds> is ffmpeg making a 440 Hz sine of that length, $W a WAV file, $O the output.
std::string command(std::string c, const std::string& out) {
    const std::pair<std::string, std::string> words[] = {
        {"$O", "'" + out + "'"}, {"$W", "'" + out + ".wav'"},
        {"$S", "ffmpeg -nostdin -y -f lavfi -i sine=frequency=440:duration="}};
    for (const auto& w : words)
        for (size_t at; (at = c.find(w.first)) != std::string::npos;) c.replace(at, 2, w.second);
    return c;
}

// One more metadata block right behind STREAMINFO, which encoders write first.
std::vector<uint8_t> withBlock(const std::vector<uint8_t>& flac, uint8_t type) {
    std::vector<uint8_t> out;
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
Expected expectedReads(const std::vector<uint8_t>& bytes, const std::vector<Packet>& frames, long window) {
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
            e.lines += kNoHeader;
            return e;
        }
        ++e.frames;
        start = frames[k + 1].position;
    }
}

// The output without the look-alikes' lines, which are counted.
std::string withoutLookalikes(const std::string& text, size_t& count) {
    std::string rest, line;
    std::istringstream in(text);
    count = 0;
    while (std::getline(in, line)) {
        if (line.rfind("[AST][ERR]FLAC file CRC-8 check error(", 0) == 0 ||
            line.rfind("[AST][ERR]FLAC file UTF-8 string error(", 0) == 0)
            ++count;
        else
            rest += line + "\n";
    }
    return rest;
}

std::vector<std::vector<uint8_t>> framesOf(const std::vector<uint8_t>& file, const std::vector<Packet>& packets,
                                           size_t count) {
    std::vector<std::vector<uint8_t>> frames;
    for (size_t k = 0; k < count; ++k)
        frames.emplace_back(file.begin() + packets[k].position, file.begin() + packets[k].position + packets[k].size);
    return frames;
}

// The PCM of the file's first `frames` frames, as ffmpeg decodes them.
std::vector<uint8_t> referenceOf(const std::string& path, const std::vector<uint8_t>& file,
                                 const std::vector<Packet>& packets, size_t frames, int bits) {
    testsupport::writeFile(path + ".head.flac",
                           std::vector<uint8_t>(file.begin(), file.begin() + packets[frames].position));
    return ffmpegDecode(path + ".head.flac", bits > 16 ? "s32le" : "s16le");
}

struct Fixture {
    const char* label;
    const char* make;
    uint32_t rate;
    int channels;
    int bits;
    std::vector<uint8_t> blocks;  // metadata block types to add
    std::string opening;          // what the reader says about them
};

void decodeAndCompare(const std::vector<Fixture>& fixtures) {
    TempDir dir;
    std::vector<ToolRun> runs;
    for (size_t i = 0; i < fixtures.size(); ++i) {
        const std::string in = dir.path("in" + std::to_string(i) + ".flac");
        ASSERT_TRUE(shell(command(fixtures[i].make, in))) << fixtures[i].label;
        std::vector<uint8_t> file = testsupport::readFile(in);
        for (uint8_t type : fixtures[i].blocks) file = withBlock(file, type);
        testsupport::writeFile(in, file);
        runs.push_back(ToolRun({"-f=" + in, "-v=" + in + ".pcm"}, {{"HOSTAUDIO_UNITS_FILE", in + ".units"}}));
    }
    const std::vector<ToolResult> results = runTools(runs);
    size_t lookalikesSeen = 0;
    for (size_t i = 0; i < fixtures.size(); ++i) {
        const Fixture& f = fixtures[i];
        SCOPED_TRACE(f.label);
        const std::string in = dir.path("in" + std::to_string(i) + ".flac");
        const std::vector<uint8_t> file = testsupport::readFile(in);
        const std::vector<Packet> packets = testsupport::ffprobePackets(in);
        ASSERT_GT(packets.size(), 1u);
        const long maxFrameSize = file[15] << 16 | file[16] << 8 | file[17];
        const Expected e = expectedReads(file, packets, std::max(16384L, maxFrameSize));
        EXPECT_EQ(packets.size() - 1, e.frames);

        const ToolResult& r = results[i];
        EXPECT_EQ(0, r.exitCode);
        size_t lookalikes = 0;
        EXPECT_EQ(argsLines(in, in + ".pcm") + "[AST][INF]File suffix=flac, codec=96.\n" + f.opening + kThreadLines +
                      e.lines + kEnd,
                  withoutLookalikes(mainThreadLines(r.out), lookalikes));
        EXPECT_EQ(e.lookalikes, lookalikes);
        lookalikesSeen += lookalikes;
        const uint32_t masks[] = {0, 0x1, 0x3, 0, 0, 0, 0x3F};
        EXPECT_NE(std::string::npos, r.out.find("[AST][INF]Encode params:codec=256 sampleRate=" +
                                                std::to_string(f.rate) + " chanels=0 channelMap=" +
                                                std::to_string(masks[f.channels]) +
                                                " pcm.format=" + (f.bits > 16 ? "14" : "2") + ".\n"));
        EXPECT_EQ("", r.err) << "the host service refused a unit";
        EXPECT_TRUE(framesOf(file, packets, e.frames) == readUnits(in + ".units"));
        const std::vector<uint8_t> ours = testsupport::readFile(in + ".pcm"),
                                   ref = referenceOf(in, file, packets, e.frames, f.bits);
        EXPECT_EQ(ref.size(), ours.size());
        PcmMatch m = comparePcm(ours, ref, f.bits > 16 ? 4 : 2, f.channels, 0, 0);
        EXPECT_TRUE(m.ok) << m.detail;
    }
    EXPECT_GT(lookalikesSeen, 0u) << "no false sync code with a bad CRC-8 in any fixture";
}

TEST(FlacDecode, DebianFlacEncoder) {
    decodeAndCompare({
        {"16 stereo 44.1k; seek table, comment, padding, picture, application",
         "$S1 -ac 2 -ar 44100 $W && flac -s -f -o $O $W", 44100, 2, 16, {6, 2}, ""},
        {"24 mono 96k, block 192: 500 frames", "$S1 -ar 96000 -c:a pcm_s24le $W && flac -s -f -b 192 -o $O $W",
         96000, 1, 24, {}, ""},
        {"16 stereo 11.025k, block 16384, rate in Hz", "$S3 -ac 2 -ar 11025 $W && flac -s -f --lax -b 16384 -o $O $W",
         11025, 2, 16, {}, ""},
        {"16 mono 12k, rate in kHz", "$S1 -ar 12000 $W && flac -s -f -o $O $W", 12000, 1, 16, {}, ""},
        // Frames of 40 KB: STREAMINFO raises the window. The loud part comes last, so that the
        // largest frame, which its own size as window cannot delimit, is the last one anyway.
        {"24 stereo 48k noise, large frames",
         "ffmpeg -nostdin -y -f lavfi -i anoisesrc=d=0.7:a=0.05:seed=7 -f lavfi -i anoisesrc=d=0.3:a=1:seed=8 "
         "-filter_complex '[0][1]concat=n=2:v=0:a=1' -ac 2 -ar 48000 -c:a pcm_s24le $W && "
         "flac -s -f --lax -b 16384 -o $O $W",
         48000, 2, 24, {}, ""},
    });
}

TEST(FlacDecode, FfmpegEncoder) {
    decodeAndCompare({
        {"16 5.1 48k", "$S1 -ac 6 -ar 48000 -c:a flac $O", 48000, 6, 16, {}, ""},
        {"24 stereo 192k, block 8192",
         "$S1 -ac 2 -ar 192000 -sample_fmt s32 -bits_per_raw_sample 24 -c:a flac -frame_size 8192 $O", 192000, 2, 24,
         {}, ""},
        {"16 mono 8k, reserved metadata type", "$S2 -ar 8000 -c:a flac $O", 8000, 1, 16, {99},
         "[AST][WRN]FLAC file metadata type is reserved(type=99).\n"},
    });
}

TEST(FlacDecode, BrokenFiles) {
    TempDir dir;
    const std::string base = dir.path("base.flac"), invalid = dir.path("invalid.flac"), cut = dir.path("cut.flac");
    ASSERT_TRUE(shell(command("$S1 -ac 2 -ar 44100 -c:a flac $O", base)));
    const std::vector<uint8_t> file = testsupport::readFile(base);
    const std::vector<Packet> packets = testsupport::ffprobePackets(base);
    ASSERT_GT(packets.size(), 6u);
    // A block of the invalid type 127 behind STREAMINFO: the walk stops at it, and the bytes
    // there are no frame header.
    testsupport::writeFile(invalid, withBlock(file, 127));
    // Cut inside frame 5: frames 0 to 4 come out.
    const std::vector<uint8_t> head(file.begin(), file.begin() + packets[5].position + packets[5].size / 2);
    testsupport::writeFile(cut, head);

    const std::vector<ToolResult> r =
        runTools({ToolRun({"-f=" + invalid, "-v=" + invalid + ".pcm"}),
                  ToolRun({"-f=" + cut, "-v=" + cut + ".pcm"}, {{"HOSTAUDIO_UNITS_FILE", cut + ".units"}})});
    EXPECT_EQ(255, r[0].exitCode);
    EXPECT_EQ(argsLines(invalid, invalid + ".pcm") + "[AST][INF]File suffix=flac, codec=96.\n" +
                  "[AST][ERR]FLAC file metadata type error(type=127).\n[AST][ERR]Failed to parse meta header.\n"
                  "[AST][ERR]FLAC file sync word error(syncWord=1FC0).\n[AST][ERR]Invalid audio data reader.\n",
              r[0].out);

    EXPECT_EQ(0, r[1].exitCode);
    const Expected e = expectedReads(head, {packets.begin(), packets.begin() + 6}, 16384);
    ASSERT_EQ(5u, e.frames);
    size_t lookalikes = 0;
    EXPECT_EQ(argsLines(cut, cut + ".pcm") + "[AST][INF]File suffix=flac, codec=96.\n" + kThreadLines + e.lines + kEnd,
              withoutLookalikes(mainThreadLines(r[1].out), lookalikes));
    EXPECT_TRUE(framesOf(file, packets, 5) == readUnits(cut + ".units"));
    const std::vector<uint8_t> ours = testsupport::readFile(cut + ".pcm");
    const std::vector<uint8_t> ref = referenceOf(base, file, packets, 5, 16);
    EXPECT_EQ(ref.size(), ours.size());
    PcmMatch m = comparePcm(ours, ref, 2, 2, 0, 0);
    EXPECT_TRUE(m.ok) << m.detail;
}

}  // namespace
