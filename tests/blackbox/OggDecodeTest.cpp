// Ogg files from real encoders end to end: the packets behind their prefix against ffmpeg's, and
// the PCM against ffmpeg's decode of the same file.
#include <algorithm>
#include <numeric>

#include "DecodeCheck.h"

using namespace blackbox;

namespace {

const char kSuffix[] = "[AST][INF]File suffix=ogg, codec=112.\n";

struct Page {
    size_t offset, dataStart;
    Bytes lacing;
};

std::vector<Page> pagesOf(const Bytes& f) {
    std::vector<Page> pages;
    for (size_t at = 0; at + 27 <= f.size();) {
        const long data = long(at + 27 + f[at + 26]);
        pages.push_back({at, size_t(data), Bytes(f.begin() + long(at + 27), f.begin() + data)});
        at = std::accumulate(f.begin() + long(at + 27), f.begin() + data, size_t(data));  // behind the lacing's sum
    }
    return pages;
}

size_t packetsEndingOn(const std::vector<Page>& pages, size_t count) {
    size_t n = 0;
    for (size_t i = 0; i < count; ++i)
        n += std::count_if(pages[i].lacing.begin(), pages[i].lacing.end(), [](uint8_t l) { return l < 255; });
    return n;
}

// The same packets on pages of at most `segments` lacing values (flags and CRC left as they were).
Bytes repage(const Bytes& f, size_t segments) {
    Bytes out;
    for (const Page& p : pagesOf(f)) {
        size_t data = p.dataStart;
        for (size_t first = 0; first < p.lacing.size(); first += segments) {
            size_t n = std::min(segments, p.lacing.size() - first), bytes = 0;
            out.insert(out.end(), f.begin() + static_cast<long>(p.offset),
                       f.begin() + static_cast<long>(p.offset + 26));
            out.push_back(static_cast<uint8_t>(n));
            for (size_t i = first; i < first + n; ++i) out.push_back(p.lacing[i]), bytes += p.lacing[i];
            out.insert(out.end(), f.begin() + static_cast<long>(data), f.begin() + static_cast<long>(data + bytes));
            data += bytes;
        }
    }
    return out;
}

// The header packets (whose bytes only the stream's own pages give), then ffmpeg's packets of
// `encoded` and the muxer's closing empty packet if it wrote one, each behind its prefix; the
// first `count` of them.
UnitsCheck oggUnits(const std::string& encoded, size_t headers, bool closing, size_t count = SIZE_MAX) {
    std::vector<Bytes> packets = packetsOf(encoded);
    if (closing) packets.emplace_back();
    std::vector<Bytes> units;
    for (const Bytes& p : packets) {
        const size_t n = p.size() + 8, i = headers + units.size();
        units.push_back({0x76, 0x62, 0x73, 0x49, uint8_t(n >> 8), uint8_t(n), uint8_t(i >> 8), uint8_t(i)});
        units.back().insert(units.back().end(), p.begin(), p.end());
    }
    units.resize(std::min(units.size(), count - headers));
    return unitsAre(units, headers);
}

TEST(OggDecode, RealDamagedAndTwoStreamFiles) {
    const struct {
        const char* label;
        std::string options;
        uint32_t rate;
        int channels;
        size_t headers;
        int bytes;
        long surplus;   // frames past the reference: only granule positions trim the end
        size_t repage;  // > 0: the file again on pages of this many lacing values
        bool closing;   // the muxer closes the stream with an empty packet
    } fixtures[] = {
        {"vorbis 5.1 48k", "-c:a libvorbis", 48000, 6, 3, 2, 2048, 0, false},
        {"vorbis stereo, setup header over several pages", "-c:a libvorbis", 44100, 2, 3, 2, 2048, 3, false},
        {"opus mono", "-c:a libopus -b:a 48k", 48000, 1, 2, 2, 1920, 0, false},
        {"opus 5.1: channel mapping family 1", "-c:a libopus", 48000, 6, 2, 2, 1920, 0, false},
        {"flac 16-bit stereo", "-c:a flac -sample_fmt s16", 44100, 2, 2, 2, 0, 0, true},
        {"flac 24-bit mono", "-c:a flac -sample_fmt s32", 96000, 1, 2, 4, 0, 0, true},
    };
    TempDir dir;
    std::vector<Decode> rows;
    for (const auto& f : fixtures) {
        const std::string in = dir.path(std::to_string(rows.size()) + ".ogg"), encoded = in + ".encoded.ogg";
        ASSERT_TRUE(encodeTones(encoded, f.channels, f.rate, f.options)) << f.label;
        const Bytes file = readFile(encoded), headerPage = pagesOf(file)[1].lacing;  // comment and setup headers
        writeFile(in, f.repage ? repage(file, f.repage) : file);
        EXPECT_TRUE(!f.repage || std::count(headerPage.begin(), headerPage.end(), 255) > long(f.repage))
            << "the setup header spans pages";
        rows.push_back(Decode{f.label, in, decodedLines(kSuffix, "[AST][INF]Reached end of data:0.\n"),
                              oggUnits(encoded, f.headers, f.closing)}
                           .pcm(encoded, f.rate, f.channels, f.bytes));
        rows.back().surplus = f.surplus;
    }

    const std::string vorbis = dir.path("vorbis.ogg"), noise = dir.path("noise.ogg"), two = dir.path("two.ogg");
    const std::string link = dir.path("link.ogg"), chain = dir.path("chain.ogg");
    ASSERT_TRUE(encodeTones(vorbis, 2, 44100, "-c:a libvorbis -page_duration 100000"));
    ASSERT_TRUE(made("$S0.5:sample_rate=22050 -ac 1 -c:a libvorbis $O", link));
    const Bytes links = testsupport::cat({readFile(vorbis), readFile(link)});
    writeFile(chain, links);
    // Units carry no granule positions, so the first link is decoded to its last packet's end.
    const std::string whole = "-flags2 +skip_manual";
    const long firstLink = long(ffmpegDecode(vorbis, "s16le", whole).size() / 4);
    ASSERT_TRUE(encodeTones(
        two, 2, 48000, "-f lavfi -i sine=sample_rate=48000:duration=1 -map 0 -map 1 -c:a:0 libvorbis -c:a:1 libopus"));
    // Noise does not compress: 8 channels of 24 bits make FLAC frames of about 110 kB.
    ASSERT_TRUE(shell("ffmpeg -nostdin -y -f lavfi -i anoisesrc=a=1:d=0.2:r=48000 -af "
                      "'pan=7.1|c0=c0|c1=c0|c2=c0|c3=c0|c4=c0|c5=c0|c6=c0|c7=c0' -c:a flac -sample_fmt s32 " +
                      noise));
    const Bytes file = readFile(vorbis), twoFile = readFile(two);
    const std::vector<Page> pages = pagesOf(file), chainPages = pagesOf(links);
    char skipped[96];  // the Opus stream's first page is the second page
    snprintf(skipped, sizeof skipped, "[AST][WRN]OGG logical stream %08X skipped: stream %08X is decoded.\n",
             le(twoFile, pagesOf(twoFile)[1].offset + 14), le(twoFile, 14));
    ASSERT_GT(pages.size(), 8u);
    Bytes noLacing = file;
    noLacing[pages[5].offset + 26] = 0;
    writeFile(dir.path("nolacing.ogg"), noLacing);
    ASSERT_GT(pages[6].lacing[0], 10) << "the cut falls inside the page's first piece";
    writeFile(dir.path("cut.ogg"), Bytes(file.begin(), file.begin() + static_cast<long>(pages[6].dataStart + 10)));
    // What was decoded is the start of the whole file's decode.
    const size_t n = rows.size();
    rows.insert(rows.end(),
                {
                    Decode{"a page without lacing values", dir.path("nolacing.ogg"),
                           decodedLines(kSuffix, "[AST][ERR]OGG file segment number error:0\n"),
                           oggUnits(vorbis, 3, false, packetsEndingOn(pages, 5))}
                        .pcm(vorbis, 44100, 2),
                    Decode{"lacing past the end of the file", dir.path("cut.ogg"),
                           decodedLines(kSuffix, "[AST][INF]Reached end of data:10.\n"),
                           oggUnits(vorbis, 3, false, packetsEndingOn(pages, 6))}
                        .pcm(vorbis, 44100, 2),
                    Decode{"a packet too long for its prefix", noise,
                           decodedLines(kSuffix, "[AST][ERR]OGG packet longer than 65527 bytes, stop reading pages.\n"),
                           unitsAre({}, 2), 255},
                    Decode{"two logical streams: the Vorbis one", two,
                           decodedLines(kSuffix, skipped + std::string("[AST][INF]Reached end of data:0.\n")),
                           oggUnits(two, 3, false)}
                        .pcm(two, 48000, 2),
                    // The decoder starts afresh on the second link's headers, its audio converted to
                    // the first's rate and channels.
                    Decode{"two chained streams", chain, decodedLines(kSuffix, "[AST][INF]Reached end of data:0.\n"),
                           unitsAre({}, packetsEndingOn(chainPages, chainPages.size()))}
                        .pcm(vorbis, 44100, 2),
                });
    rows.back().referenceInput = whole;
    rows.back().changes = std::string(kChangeLine) + " at sample " + std::to_string(firstLink) +
                          " to 22050 Hz, 1 channel(s); converted to 44100 Hz, 2 channel(s).\n";
    rows[n].uncovered = rows[n + 1].uncovered = 44100;  // of 52920
    rows[n + 3].surplus = 2048;
    rows[n + 4].surplus = 23000;  // the second link, 0.5 s

    // More channels than a channel map names, and a rate no stream has: refused on the unit that
    // opens the codec, with one line.
    ASSERT_TRUE(encodeTones(dir.path("ten.ogg"), 10, 48000, "-c:a libopus -mapping_family 255"));
    Bytes badRate = file;
    for (size_t i = 0; i < 4; ++i) badRate[pages[0].dataStart + 12 + i] = i == 3 ? 0x7F : 0xFF;
    writeFile(dir.path("rate.ogg"), badRate);
    const std::string refused = kSuffix + std::string(kThreadLines) + "[AST][ERR]Failed to write audio data.\n";
    rows.push_back({"opus, 10 channels",
                    dir.path("ten.ogg"),
                    refused,
                    unitsAre({}, 1),
                    255,
                    {"hostaudio: the stream is not decoded: 10 channels, more than the 8 a channel map names\n"}});
    rows.push_back({"vorbis, rate 0x7FFFFFFF",
                    dir.path("rate.ogg"),
                    refused,
                    unitsAre({}, 3),
                    255,
                    {"hostaudio: the stream is not decoded: 2147483647 Hz, not a sample rate of 1 to 768000 Hz\n"}});
    checkDecodes(rows);
}

}  // namespace
