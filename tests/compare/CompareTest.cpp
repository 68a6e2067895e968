// ostrel-compare on a decode damaged on purpose and on bad input.
#include <cmath>
#include <cstring>
#include <sys/stat.h>

#include "DecodeCheck.h"

using namespace blackbox;

namespace {

std::string readText(const std::string& path) {
    const Bytes b = readFile(path);
    return std::string(b.begin(), b.end());
}

}  // namespace

namespace {

TEST(Compare, DamagedOutputsAndBadInput) {
    TempDir dir;
    const std::string mp3 = dir.path("in.mp3"), pcm = dir.path("out.pcm");
    ASSERT_TRUE(encodeTones(mp3, 2, 44100, "-c:a libmp3lame -b:a 128k"));
    ASSERT_EQ(0, runTool(ToolRun({"-f=" + mp3, "-v=" + pcm})).exitCode);
    const Bytes good = readFile(pcm);
    std::vector<int16_t> samples(good.size() / 2);
    memcpy(samples.data(), good.data(), samples.size() * 2);
    const size_t frames = samples.size() / 2;

    // The decode with one damage, as 16-bit stereo frames.
    auto damaged = [&](const std::string& name, const std::function<void(std::vector<int16_t>&)>& damage) {
        std::vector<int16_t> s = samples;
        damage(s);
        Bytes bytes(s.size() * 2);
        memcpy(bytes.data(), s.data(), bytes.size());
        writeFile(dir.path(name), bytes);
        return "--decoded=" + dir.path(name);
    };
    // Differences of known RMS and maximum: 1 LSB on every n-th frame, or `by` LSB on all.
    auto offset = [&](const std::string& name, size_t every, int by) {
        return damaged(name, [=](std::vector<int16_t>& s) {
            for (size_t i = 0; i < s.size(); i += 2 * every)
                s[i] = int16_t(s[i] + by), s[i + 1] = int16_t(s[i + 1] + by);
        });
    };
    const std::string sparse13 = offset("every13", 13, 1), sparse11 = offset("every11", 11, 1);
    const std::string plus4 = offset("plus4", 1, 4), plus5 = offset("plus5", 1, 5);
    Bytes wav = testsupport::wavFile({44100, 2, 16, 0, false}, good);
    wav[40] = uint8_t(wav[40] + 4);  // the data chunk's size, 4 bytes too long
    writeFile(dir.path("lying.wav"), wav);
    writeFile(dir.path("empty"), {});
    writeFile(dir.path("notes.txt"), {'a'});
    writeFile(dir.path("notes.mp3"), Bytes(4000, 'a'));
    // References: the decode with 8000 frames of silence behind it; cut to 40 % and a byte; as
    // 24-bit samples whose low byte rounds away.
    Bytes silent = good, cut40(good.begin(), good.begin() + long(good.size() / 10 * 4 + 1)), wide;
    silent.resize(good.size() + 32000, 0);
    for (size_t i = 0; i < good.size(); i += 2) wide.insert(wide.end(), {0x70, good[i], good[i + 1]});
    writeFile(dir.path("silent.pcm"), silent);
    writeFile(dir.path("cut40.pcm"), cut40);
    writeFile(dir.path("wide.pcm"), wide);
    const std::string raw = " --rate=44100 --channels=2 --reference=" + dir.path("");
    // A stream of no container given as the output, and a Layer II stream whose first frame
    // differs in its mode from the rest (the demuxer drops such a frame).
    const std::string bare = dir.path("bare.mp3"), mp2 = dir.path("start.mp3");
    ASSERT_TRUE(encodeTones(bare, 2, 44100, "-c:a libmp3lame -write_xing 0 -id3v2_version 0 -f mp3"));
    ASSERT_TRUE(encodeTones(dir.path("adts"), 2, 44100, "-c:a aac -f adts"));
    ASSERT_TRUE(encodeTones(dir.path("tones.wav"), 2, 48000, "-c:a pcm_s16le"));
    ASSERT_TRUE(made("cd " + dir.path("") +
                         " && twolame --quiet -b 192 -m d tones.wav d.mp2 && twolame --quiet -b 192 -m s "
                         "tones.wav s.mp2 && head -c 576 d.mp2 | cat - s.mp2 >$O",
                     mp2));
    ASSERT_EQ(0, runTool(ToolRun({"-f=" + mp2, "-v=" + dir.path("start.pcm")})).exitCode);
    mkdir(dir.path("folder").c_str(), 0755);
    // A pure tone 300 samples late and a little quieter, as a lossy decoder could give it.
    const std::string tone = dir.path("tone.wav");
    ASSERT_TRUE(encodeTones(tone, 1, 48000, "-c:a pcm_s16le"));
    const Bytes toneBytes = readFile(tone);
    std::vector<int16_t> shifted(300 + (toneBytes.size() - 44) / 2, 0);
    memcpy(shifted.data() + 300, toneBytes.data() + 44, toneBytes.size() - 44);
    for (int16_t& v : shifted) v = int16_t(std::lround(v * 0.999));
    writeFile(dir.path("tone.pcm"), Bytes(reinterpret_cast<uint8_t*>(shifted.data()),
                                          reinterpret_cast<uint8_t*>(shifted.data() + shifted.size())));
    const std::string late = damaged("late", [&](std::vector<int16_t>& s) {
        for (size_t i = frames - 1; i > 0; --i) s[2 * i + 1] = s[2 * i - 1];
    });
    const std::string dropped = damaged("dropped", [&](std::vector<int16_t>& s) {
        s.erase(s.begin() + long(frames), s.begin() + long(frames) + 2 * 1152);
    });
    const std::string swapped = damaged("swapped", [&](std::vector<int16_t>& s) {
        for (size_t i = 0; i < frames; ++i) std::swap(s[2 * i], s[2 * i + 1]);
    });
    const std::string cut = damaged("cut", [&](std::vector<int16_t>& s) { s.resize(s.size() / 2 + 1); });
    const std::string input = "--input=" + mp3;

    const struct {
        const char* label;
        std::string args;  // split at spaces
        int exitCode;
        std::string outcome;
        std::string shows = "";  // a line standard output holds too
    } rows[] = {
        {"as decoded", input + " --decoded=" + pcm + " --require=exact", 0, "PASS: exact required, exact reached",
         "reference decoded by mp3float, libavcodec "},
        {"RMS just inside full", input + " " + sparse13, 0, "PASS: full required, full reached",
         "margin    +0.3 dB inside the full bounds"},
        {"RMS just outside full", input + " " + sparse11, 1, "FAIL: full required, limited reached (channel 1)"},
        {"4 LSB: limited, not full", input + " " + plus4 + " --require=limited", 0,
         "PASS: limited required, limited reached"},
        {"5 LSB: outside limited", input + " " + plus5 + " --require=12", 1,
         "FAIL: K=12 required, K=11 reached (channel 1)"},
        {"pure tone 300 samples late", "--input=" + tone + " --decoded=" + dir.path("tone.pcm") + " --require=10", 0,
         "PASS: K=10 required, K=10 reached",
         "aligned   decoded output 300 samples (6.250 ms) late\ncertainty ambiguous: "},
        {"reference ending in silence", input + " --decoded=" + pcm + raw + "silent.pcm", 0,
         "PASS: exact required, exact reached", "8000 missing"},
        {"reference cut to 40 % and a byte", input + " --decoded=" + pcm + raw + "cut40.pcm", 1,
         "FAIL: exact required, exact reached; 33178 samples extra at the end, more than one frame (1024); the "
         "reference ends in 1 byte short of a whole frame"},
        {"24-bit raw reference, 16-bit output",
         input + " --decoded=" + pcm + raw + "wide.pcm --input-bits=24 --decoded-bits=16", 0,
         "PASS: exact required, exact reached", "note      the source has 24-bit samples, the decoded file 16"},
        {"Layer II starting with a frame of another mode",
         "--input=" + mp2 + " --decoded=" + dir.path("start.pcm") + " --require=full", 0,
         "PASS: full required, exact reached", "input     " + mp2 + ": mp2, 48000 Hz, 2 channels, 58752 samples"},
        {"second channel a sample late", input + " " + late, 1,
         "FAIL: full required, K=5 reached (channel 1); 2258 samples extra at the start, more than one frame "
         "(1152) and the 1105 the file marks to skip; decoded channel 1 is 1 sample early against the others"},
        {"1152 samples dropped in the middle", input + " " + dropped, 1,
         "FAIL: full required, exact reached; 1152 samples missing at 0.576 s"},
        {"channels swapped", input + " " + swapped, 1,
         "FAIL: full required, none reached (channel 1); decoded channel 1 holds reference channel 2; decoded "
         "channel 2 holds reference channel 1"},
        {"WAV header lying about the length", input + " --decoded=" + dir.path("lying.wav"), 1,
         "FAIL: full required, exact reached; the WAV header says " + std::to_string(good.size() + 4) +
             " data bytes, the file holds " + std::to_string(good.size())},
        {"truncated in a sample", input + " " + cut, 1,
         "FAIL: full required, exact reached; 27518 samples of audio missing at the end; 2 bytes at the end do not make a whole frame of 4 bytes"},
        {"no input", "--input=" + dir.path("none.mp3") + " --decoded=" + pcm, 2,
         "ostrel-compare: cannot open " + dir.path("none.mp3") + ": no such file"},
        {"input of no format ostrel decodes", "--input=" + dir.path("notes.txt") + " --decoded=" + pcm, 2,
         "ostrel-compare: " + dir.path("notes.txt") + ": ostrel does not decode files with the suffix .txt"},
        {"input not audio", "--input=" + dir.path("notes.mp3") + " --decoded=" + pcm, 2,
         "ostrel-compare: cannot read " + dir.path("notes.mp3") + " as audio: Invalid argument"},
        {"decoded file empty", input + " --decoded=" + dir.path("empty"), 2,
         "ostrel-compare: " + dir.path("empty") + " is empty: the decoder wrote no PCM"},
        {"decoded file a bare MP3 stream", input + " --decoded=" + bare, 2,
         "ostrel-compare: " + bare + " is an encoded file (MPEG audio), not decoded PCM"},
        {"decoded file an ADTS stream", input + " --decoded=" + dir.path("adts"), 2,
         "ostrel-compare: " + dir.path("adts") + " is an encoded file (AAC ADTS), not decoded PCM"},
        {"decoded file a folder", input + " --decoded=" + dir.path("folder"), 2,
         "ostrel-compare: " + dir.path("folder") + " is a folder, not a file"},
        {"raw reference without a layout", input + " --decoded=" + pcm + " --reference=" + dir.path("wide.pcm"), 2,
         "ostrel-compare: " + dir.path("wide.pcm") +
             " is raw PCM: its layout needs --rate and --channels (or a WAV output)"},
        {"report over the decoded file", input + " --decoded=" + pcm + " --report=" + pcm, 2,
         "ostrel-compare: the report " + pcm + " would overwrite " + pcm},
        {"report in no folder", input + " --decoded=" + pcm + " --report=" + dir.path("none/r.html"), 2,
         "ostrel-compare: cannot write the report " + dir.path("none/r.html") + ": No such file or directory"},
        {"mismatched rate", input + " --decoded=" + pcm + " --rate=48000", 2,
         "ostrel-compare: mismatched rates: " + pcm + " is 48000 Hz by the command line, " + mp3 +
             " decodes at 44100 Hz; resampled output cannot be compared sample by sample"},
        {"WAV header against the command line", input + " --decoded=" + dir.path("lying.wav") + " --channels=1", 2,
         "ostrel-compare: --channels disagrees with the WAV header of " + dir.path("lying.wav") +
             " (44100 Hz, 2 channels, 16 bits)"},
        {"unknown class", input + " --decoded=" + pcm + " --require=best", 2,
         "ostrel-compare: bad value in --require=best"},
        {"no decoded file named", input, 2, "ostrel-compare: --decoded is missing"},
    };
    std::vector<std::vector<std::string>> argumentLists;
    for (const auto& row : rows) argumentLists.push_back(words(row.args));
    const std::vector<ToolResult> results = compare(argumentLists);
    for (size_t i = 0; i < results.size(); ++i) {
        EXPECT_EQ(std::make_pair(rows[i].exitCode, rows[i].outcome),
                  std::make_pair(results[i].exitCode, verdict(results[i])))
            << rows[i].label << "\n"
            << results[i].out;
        EXPECT_NE(std::string::npos, results[i].out.find(rows[i].shows)) << rows[i].label << "\n" << results[i].out;
    }

    // A corpus of three, one failing, one made by a command: whole, and in two slices merged.
    const std::string list =
        mp3 + " " + pcm + "\n# a comment\n" + mp3 + "\t" + sparse11.substr(10) + "\n" + mp3 + "\tcat " + pcm + "\n";
    writeFile(dir.path("corpus.txt"), Bytes(list.begin(), list.end()));
    for (const char* d : {"all", "s1", "s2", "merged"}) mkdir(dir.path(d).c_str(), 0755);
    const std::string corpus = "--corpus=" + dir.path("corpus.txt");
    const std::vector<ToolResult> runs = compare({{corpus, "--jobs=2", "--report=" + dir.path("all/index.html")},
                                                  {corpus, "--shard=1/2", "--report=" + dir.path("s1/index.html")},
                                                  {corpus, "--shard=2/2", "--report=" + dir.path("s2/index.html")}});
    const ToolResult merged = compare({{"--merge", "--report=" + dir.path("merged/index.html"),
                                        dir.path("s1/index.tsv"), dir.path("s2/index.tsv")}})[0];
    const std::string pass = "PASS: full required, exact reached";
    EXPECT_EQ(std::make_pair(1, "PASS  " + mp3 + ": " + pass + "\nFAIL  " + mp3 +
                                    ": FAIL: full required, limited reached (channel 1)\nPASS  " + mp3 + ": " + pass +
                                    "\ncorpus   3 files: 2 pass, 1 fail, 0 could not be compared\n"),
              std::make_pair(runs[0].exitCode, runs[0].out));
    EXPECT_EQ(std::make_pair(runs[0].exitCode, runs[0].out), std::make_pair(merged.exitCode, merged.out));
    EXPECT_EQ(std::make_pair(0, 1), std::make_pair(runs[1].exitCode, runs[2].exitCode));
    const std::string index = readText(dir.path("merged/index.html")), tsv = readText(dir.path("all/index.tsv"));
    EXPECT_NE(std::string::npos, index.find("href=\"" + dir.path("s2/2-in.mp3.html") + "\"")) << index;
    EXPECT_NE(std::string::npos, tsv.find("\n3\t" + mp3 + "\tcat " + pcm + "\t-\tPASS\texact\t-\t3-in.mp3.html\t"))
        << tsv;
}

}  // namespace
