// ostrel-compare on a decode damaged on purpose and on bad input.
#include <cstring>
#include <random>

#include "DecodeCheck.h"

using namespace blackbox;

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
    std::mt19937 random(18);
    std::normal_distribution<double> noise(0, 32768 * 1e-4);  // -80 dB FS RMS
    const std::string noisy = damaged("noise", [&](std::vector<int16_t>& s) {
        for (int16_t& v : s) v = int16_t(std::max(-32768.0, std::min(32767.0, std::nearbyint(v + noise(random)))));
    });
    Bytes wav = testsupport::wavFile({44100, 2, 16, 0, false}, good);
    wav[40] = uint8_t(wav[40] + 4);  // the data chunk's size, 4 bytes too long
    writeFile(dir.path("lying.wav"), wav);
    writeFile(dir.path("empty"), {});
    writeFile(dir.path("notes.txt"), {'a'});
    writeFile(dir.path("notes.mp3"), Bytes(4000, 'a'));
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
    } rows[] = {
        {"as decoded", input + " --decoded=" + pcm + " --require=exact", 0, "PASS: exact required, exact reached"},
        {"noise, full required", input + " " + noisy, 1, "FAIL: full required, limited reached (channel 1)"},
        {"noise, limited required", input + " " + noisy + " --require=limited", 0,
         "PASS: limited required, limited reached"},
        {"noise, 13 bits required", input + " " + noisy + " --require=13", 1,
         "FAIL: K=13 required, limited reached (channel 1)"},
        {"second channel a sample late", input + " " + late, 1,
         "FAIL: full required, K=5 reached (channel 1); decoded channel 1 is 1 sample early against the others"},
        {"1152 samples dropped in the middle", input + " " + dropped, 1,
         "FAIL: full required, exact reached; 1152 samples missing at 0.576 s"},
        {"channels swapped", input + " " + swapped, 1,
         "FAIL: full required, none reached (channel 1); decoded channel 1 holds reference channel 2; decoded "
         "channel 2 holds reference channel 1"},
        {"WAV header lying about the length", input + " --decoded=" + dir.path("lying.wav"), 1,
         "FAIL: full required, exact reached; the WAV header says " + std::to_string(good.size() + 4) +
             " data bytes, the file holds " + std::to_string(good.size())},
        {"truncated in a sample", input + " " + cut, 1,
         "FAIL: full required, exact reached; 27529 samples missing at the end; 2 bytes at the end do not make a whole frame of 4 bytes"},
        {"no input", "--input=" + dir.path("none.mp3") + " --decoded=" + pcm, 2,
         "ostrel-compare: cannot open " + dir.path("none.mp3") + ": no such file"},
        {"input of no format ostrel decodes", "--input=" + dir.path("notes.txt") + " --decoded=" + pcm, 2,
         "ostrel-compare: " + dir.path("notes.txt") + ": ostrel does not decode files with the suffix .txt"},
        {"input not audio", "--input=" + dir.path("notes.mp3") + " --decoded=" + pcm, 2,
         "ostrel-compare: cannot read " + dir.path("notes.mp3") + " as audio: Invalid argument"},
        {"decoded file empty", input + " --decoded=" + dir.path("empty"), 2,
         "ostrel-compare: " + dir.path("empty") + " is empty: the decoder wrote no PCM"},
        {"decoded file encoded", input + " --decoded=" + mp3, 2,
         "ostrel-compare: " + mp3 + " is an encoded file (MP3 with an ID3 tag), not decoded PCM"},
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
    }
}

}  // namespace
