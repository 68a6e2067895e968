// AC-3 and E-AC-3 files end to end, intact and damaged.
#include "DecodeCheck.h"

using namespace blackbox;

namespace {

const std::string kLastRead = "[AST][INF]Reached end of data:0.\n[AST][ERR]Failed to parse EAC fixed header.\n";

Decode decode(const std::string& label, const std::string& in, const std::string& reads,
              const std::vector<Bytes>& units, const std::string& opening = "") {
    return {label, in,
            decodedLines("[AST][INF]File suffix=" + in.substr(in.size() - 3) + ", codec=80.\n" + opening, reads),
            unitsAre(units)};
}

// "JUNKJU": the identifier in the sixth byte is 10.
const std::string kJunk = "[AST][ERR]EAC file bit stream id error(bitStreamId=10).\n" + skippedJunk("EAC");

// AC-3 frame sizes come from a table by rate and bit rate (44.1 kHz adds a word to some frames);
// E-AC-3 frames carry their size, whatever the rate.
TEST(EacDecode, RealAndDamagedStreams) {
    const struct {
        const char* label;
        const char* options;
        const char* suffix;
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
            decode("ac3, junk first and midway", dir.path("3.ac3"), kJunk + kLastRead, frames, kJunk)
                .pcm(whole, 48000, 2),
            decode("eac3, junk first and midway", dir.path("junk.ec3"), kJunk + kLastRead, packetsOf(eac3), kJunk)
                .pcm(eac3, 48000, 6),
        });
    rows[n + 2].uncovered = 1536;  // samples a frame
    rows[n + 2].problems = {"where the frame header says 512"};
    checkDecodes(rows);
}

}  // namespace
