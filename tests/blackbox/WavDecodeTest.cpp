// WAV and raw PCM decodes end to end: messages, output files, units and track bytes.
#include <sstream>

#include "DecodeCheck.h"

using namespace blackbox;
using testsupport::WavLayout;

namespace {

// A short last frame is delivered with its bytes; the read after it finds nothing.
std::string endOfData(size_t bytes, size_t frameLength) {
    size_t rest = bytes % frameLength;
    std::string nothing = "[AST][INF]Reached end of data:0.\n";
    return rest == 0 ? nothing : "[AST][INF]Reached end of data:" + std::to_string(rest) + ".\n" + nothing;
}

// 24-bit samples as the decoder gets them: signed 32-bit, the low byte zero.
std::vector<uint8_t> widened(const std::vector<uint8_t>& pcm) {
    std::vector<uint8_t> out;
    for (size_t at = 0; at + 3 <= pcm.size(); at += 3) out.insert(out.end(), {0, pcm[at], pcm[at + 1], pcm[at + 2]});
    return out;
}

// `pcm` in units of `bytes` bytes, the last one shorter: the PCM passes the decoder as it is.
std::vector<Bytes> unitsOf(const Bytes& pcm, size_t bytes) {
    std::vector<Bytes> units;
    for (size_t at = 0; at < pcm.size(); at += bytes)
        units.emplace_back(pcm.begin() + long(at), pcm.begin() + long(std::min(at + bytes, pcm.size())));
    return units;
}

// Headers the reader takes, refuses (the whole file, header included, is then PCM by the command
// line) or cannot make frames of: the lines, the units, and the output, a canonical WAV of the PCM
// (raw for a .pcm name) with one description of it, or no file at all.
TEST(WavDecode, HeadersRawPcmAndTheOutput) {
    TempDir dir;
    std::vector<Decode> rows;
    // `file` decoded to `pcm` in units of `unit` bytes, written as `out` says; no PCM: no writer.
    auto add = [&](const std::string& label, const std::string& suffix, const Bytes& file, const std::string& lines,
                   const Bytes& pcm, const WavLayout& out, size_t unit) {
        const std::string in = dir.path(std::to_string(rows.size()) + "." + suffix);
        writeFile(in, file);
        rows.push_back({label, in, "[AST][INF]File suffix=" + suffix + ", codec=0.\n" + lines,
                        pcm.empty() ? nullptr : unitsAre(unitsOf(pcm, unit))});
        rows.back().save = "." + suffix;
        if (!pcm.empty()) rows.back().pcm("", out.rate, int(out.channels), int(out.bitsPerSample / 8));
        rows.back().output = pcm.empty() || suffix == "pcm" ? pcm : testsupport::wavFile(out, pcm);
    };
    const std::string fallBack = "[AST][WRN]Treat as PCM raw data because failed to parse WAVE header.\n";
    const std::string widening = "[AST][WRN]24-bit PCM is widened to signed 32-bit for the decoder.\n";
    const std::pair<WavLayout, std::string> layouts[] = {
        {{44100, 2, 16, 0, false}, ""},
        {{8000, 1, 8, 0, false}, ""},
        {{48000, 2, 32, 0, false}, ""},
        {{22050, 1, 16, 2, false}, ""},
        {{22050, 2, 16, 0, true}, "[AST][WRN]Skip WAV chunk(LIST) of 12 bytes.\n"},
        {{48000, 2, 24, 0, false}, widening},
    };
    for (const auto& c : layouts) {
        const WavLayout& l = c.first;
        // 1.05 s, so the last 20 ms frame is short.
        const Bytes pcm = testsupport::sinePcm(l.rate, l.channels, l.bitsPerSample, l.rate * 105 / 100);
        const bool wide = l.bitsPerSample == 24;
        const uint32_t bits = wide ? 32 : l.bitsPerSample, frame = l.rate * l.channels * l.bitsPerSample / 8 / 50;
        add(std::to_string(l.rate) + " Hz " + std::to_string(l.bitsPerSample) + " bits", "wav",
            testsupport::wavFile(l, pcm),
            decodedLines(c.second + wavReaderLines("parseWavHeader", l.rate, l.channels, bits,
                                                   44 + int(l.extraFormatBytes) + (l.listChunk ? 20 : 0)),
                         endOfData(pcm.size(), frame)),
            wide ? widened(pcm) : pcm, {l.rate, l.channels, bits, 0, false}, wide ? frame / 3 * 4 : frame);
    }

    Bytes raw = testsupport::sinePcm(8000, 1, 8, 8000 * 3 / 2);
    std::copy_n("raw!", 4, raw.begin());  // a known first word for the magic message
    add("raw PCM by the command line", "pcm", raw,
        "[AST][ERR]WAV file magic(RIFF) error(magic=72617721).\n" +
            decodedLines(fallBack + wavReaderLines("PCM format", 8000, 1, 8, 0), endOfData(raw.size(), 160)),
        raw, {8000, 1, 8, 0, false}, 160);
    rows.back().options = {"-s=8000", "-c=1", "-b=8"};

    const Bytes pcm = testsupport::sinePcm(48000, 2, 16, 4800);
    Bytes dataFirst = testsupport::wavFile(WavLayout(), pcm), shortFormat = dataFirst, lowerRiff = dataFirst;
    std::copy_n("data", 4, dataFirst.begin() + 12);
    shortFormat[16] = 14;
    lowerRiff[0] = 'r';
    const std::pair<Bytes, std::string> refused[] = {
        {dataFirst, "[AST][ERR]WAV file magic(fmt ) error(magic=64617461).\n"},
        {shortFormat, "[AST][ERR]Extra format data length is negative:-2\n"},
        {lowerRiff, "[AST][ERR]WAV file magic(RIFF) error(magic=72494646).\n"},
        {{'R', 'I', 'F', 'F', 1, 2, 3, 4, 5, 6}, "[AST][INF]Reached end of data:10.\n"},
        {{}, "[AST][INF]Reached end of data:0.\n"},
    };
    for (const auto& c : refused)
        add(c.second, "wav", c.first,
            c.second +
                decodedLines(fallBack + wavReaderLines("PCM format", 48000, 2, 16, 0), endOfData(c.first.size(), 3840)),
            c.first, {48000, 2, 16, 0, false}, 3840);

    // Formats a frame cannot express: 20-bit samples, 9 channels.
    for (const WavLayout& l : {WavLayout{44100, 2, 20, 0, false}, WavLayout{44100, 9, 16, 0, false}})
        add("bits " + std::to_string(l.bitsPerSample) + " channels " + std::to_string(l.channels), "wav",
            testsupport::wavFile(l, testsupport::sinePcm(l.rate, l.channels, 16, 100)),
            decodedLines(wavReaderLines("parseWavHeader", 44100, l.channels <= 2 ? l.channels : 0,
                                        l.bitsPerSample == 20 ? 0 : l.bitsPerSample, 44),
                         "[AST][ERR]Invalid frame length(0).\n"),
            {}, l, 0);
    checkDecodes(rows);
}

// The size field of the first chunk `id` in a RIFF file, and where that chunk's data begin.
uint32_t chunkSize(const Bytes& file, const char* id, size_t* data = nullptr) {
    const size_t at = size_t(std::search(file.begin() + 12, file.end(), id, id + 4) - file.begin());
    if (data) *data = at + 8;
    return at + 8 <= file.size() ? le(file, at + 4) : 0;
}

struct ToolFile {
    const char* label;
    std::string make;  // ffmpeg's options and output for a 1.03 s sine; $O the file
    uint32_t rate;
    int channels, bits;
    // The ids of the chunks before the data, the warning behind the skip lines, the format line of
    // a refused file.
    std::string skipped, warning, refusal;
};

// Files as tools write them: each decodes completely, skipping the chunks it names and never
// decoding past the data; other formats than integer PCM are refused.
TEST(WavDecode, RealToolsFilesDecodeCompletely) {
    const std::string widening = "[AST][WRN]24-bit PCM is widened to signed 32-bit for the decoder.\n";
    const std::string sixChannels =
        "[AST][WRN]WAV file has 6 channels: channelMap is their count, and frames hold them all.\n";
    std::vector<ToolFile> fixtures = {
        {"ffmpeg defaults", "-ac 2 $O", 44100, 2, 16, "LIST", "", ""},
        {"ffmpeg to a pipe, sizes all ones", "-ac 2 -f wav - > $O", 44100, 2, 16, "LIST", "", ""},
        {"RF64", "-ar 48000 -rf64 always $O", 48000, 1, 16, "LIST", "", ""},
        {"JUNK and bext before the data, levl behind it", "-ar 32000 -rf64 auto -write_bext 1 -write_peak on $O", 32000,
         1, 16, "JUNK bext LIST", "", ""},
        {"extensible 24-bit", "-ac 2 -ar 48000 -c:a pcm_s24le $O", 48000, 2, 24, "LIST", widening, ""},
        {"extensible 5.1", "-ac 6 -ar 48000 $O", 48000, 6, 16, "LIST", sixChannels, ""},
        {"24-bit, odd length", "-c:a pcm_s24le -af aresample=8000,atrim=end_sample=8001 $O", 8000, 1, 24, "LIST",
         widening, ""},
        {"float", "-c:a pcm_f32le $O", 0, 1, 0, "fact LIST", "",
         "WAV format 0xFFFE, sub-format 0x0003, is not integer PCM"},
        {"A-law", "-ar 8000 -c:a pcm_alaw $O", 0, 1, 0, "fact LIST", "", "WAV format 0x0006 is not integer PCM"},
    };
    TempDir dir;
    std::vector<Bytes> files;
    for (ToolFile& f : fixtures) {
        f.make.replace(f.make.find("$O"), 2, "'" + dir.path(std::to_string(files.size()) + ".WAV") + "'");
        ASSERT_TRUE(shell("ffmpeg -nostdin -y -f lavfi -i sine=frequency=440:duration=1.03 " + f.make)) << f.label;
        files.push_back(readFile(dir.path(std::to_string(files.size()) + ".WAV")));
    }
    // Tags behind the data and its pad byte.
    const char tags[] = "LIST\x0c\0\0\0INFOICMT\0\0\0\0id3 \x0a\0\0\0ID3\x04\0\0\0\0\0\0";
    Bytes tagged = files[6];
    tagged.insert(tagged.end(), tags, tags + sizeof tags - 1);
    std::copy_n(testsupport::le(tagged.size() - 8, 4).begin(), 4, tagged.begin() + 4);
    fixtures.push_back(fixtures[6]);
    fixtures.back().label = "LIST and id3 behind the data";
    files.push_back(tagged);
    // A data size of 0, as streaming writers leave it: the data run to the end.
    size_t dataAt = 0;
    chunkSize(files[0], "data", &dataAt);
    files.push_back(files[0]);
    std::fill_n(files.back().begin() + long(dataAt) - 4, 4, 0);
    fixtures.push_back(fixtures[0]);
    fixtures.back().label = "data size 0";
    // A sub-format of its own.
    files.push_back(files[4]);
    files.back()[59] = 0x72;
    fixtures.push_back({"unknown sub-format", "", 0, 2, 0, "LIST", "",
                        "WAV format 0xFFFE, sub-format 00000001-0000-0010-8000-00AA00389B72, is not integer PCM"});

    std::vector<Decode> rows;
    for (size_t i = 0; i < fixtures.size(); ++i) {
        const ToolFile& f = fixtures[i];
        const Bytes& file = files[i];
        const std::string in = dir.path(std::to_string(i) + ".WAV");
        writeFile(in, file);
        std::string opening = "[AST][INF]File suffix=WAV, codec=0.\n";
        if (file[1] == 'F') opening += "[AST][WRN]WAV file magic is RF64, sizes read from its ds64 chunk.\n";
        std::istringstream ids(f.skipped);
        for (std::string id; ids >> id;)
            opening +=
                "[AST][WRN]Skip WAV chunk(" + id + ") of " + std::to_string(chunkSize(file, id.c_str())) + " bytes.\n";
        if (!f.refusal.empty()) {
            rows.push_back(
                {f.label, in,
                 opening + "[AST][ERR]" + f.refusal + ", not decoded.\n[AST][ERR]Invalid audio data reader.\n", nullptr,
                 255});
            continue;
        }
        size_t start = 0;
        const uint32_t size = chunkSize(file, "data", &start);
        const size_t data = size == 0xFFFFFFFF || size == 0 ? file.size() - start : size;
        std::string warning = f.warning;
        if (start + data + data % 2 < file.size())
            warning += "[AST][WRN]WAV data chunk ends at " + std::to_string(start + data) + ", the " +
                       std::to_string(file.size() - start - data) + " bytes behind it are not decoded.\n";
        const size_t frame = f.rate * size_t(f.channels) * size_t(f.bits / 8) / 50;
        const bool wide = f.bits == 24;
        const Bytes pcm(file.begin() + long(start), file.begin() + long(start + data));
        rows.push_back({f.label, in,
                        decodedLines(opening + warning +
                                         wavReaderLines("parseWavHeader", f.rate, uint32_t(f.channels),
                                                        wide ? 32 : uint32_t(f.bits), int(start)),
                                     endOfData(data, frame)),
                        unitsAre(unitsOf(wide ? widened(pcm) : pcm, wide ? frame / 3 * 4 : frame))});
        rows.back().pcm(in, f.rate, f.channels, wide ? 4 : 2);
    }
    checkDecodes(rows);
}

}  // namespace
