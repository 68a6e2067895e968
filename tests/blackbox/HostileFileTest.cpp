// Files of every format from real encoders: intact, each decodes and ostrel-compare judges the
// decode; then cut short at many offsets and altered by seeded mutations, whatever the damage, a
// run ends by itself with 0 or 255, without the crash report and without a sanitizer finding.
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <random>
#include <thread>

#include "DecodeCheck.h"
#include "Fixtures.h"

using namespace blackbox;

namespace {

// One damage to a file, reproducible from its seed alone.
struct Damage {
    enum Kind { Cut, Flip, Overwrite, Remove } kind;  // a failure names it by its number
    uint32_t seed;
    size_t at = 0, length = 0;
    uint32_t value = 0;

    Bytes apply(const Bytes& f) const {
        Bytes out = f;
        switch (kind) {
        case Cut: out.resize(std::min(at, f.size())); break;
        case Flip: out[at] ^= uint8_t(1u << value); break;
        case Overwrite:
            for (size_t i = 0; i < 4 && at + i < out.size(); ++i) out[at + i] = uint8_t(value >> (24 - 8 * i));
            break;
        case Remove: out.erase(out.begin() + long(at), out.begin() + long(std::min(at + length, f.size()))); break;
        }
        return out;
    }
};

// Where the headers end: the file position of the first unit the decoder got from the intact
// file (Ogg's fourth: its first three can be codec headers), found by its bytes behind the
// tool's prefix (APE's words come reversed).
size_t headersEnd(const Bytes& file, const std::string& suffix, const std::vector<Bytes>& units) {
    const size_t prefix = suffix == "ogg" || suffix == "wma" ? 8 : suffix == "m4a" ? 16 : suffix == "ape" ? 20 : 0;
    const size_t index = suffix == "ogg" ? 3 : 0;
    if (units.size() > index && units[index].size() >= prefix + 16) {
        Bytes probe(units[index].begin() + long(prefix), units[index].begin() + long(prefix + 16));
        if (suffix == "ape")
            for (size_t i = 0; i < 16; i += 4) std::reverse(probe.begin() + long(i), probe.begin() + long(i + 4));
        const auto at = std::search(file.begin(), file.end(), probe.begin(), probe.end());
        if (at != file.end()) return size_t(at - file.begin());
    }
    return std::min<size_t>(file.size(), 1024);  // no units (RealMedia)
}

// Damage to a file of `size` bytes whose headers end at `headers`: cuts all through the headers
// and the start of the first frame, and spread over the whole file; then seeded flips,
// overwrites with values a size field fears, and removals, half of them in the headers.
std::vector<Damage> damages(size_t size, size_t headers, uint32_t seedBase, int scale) {
    std::vector<Damage> list;
    const size_t head = std::min(size - 4, headers + 64);
    for (int i = 0; i < 4 * scale; ++i) list.push_back({Damage::Cut, 0, head * size_t(i) / size_t(4 * scale)});
    for (int i = 0; i < scale; ++i) {
        std::mt19937 rng(seedBase + uint32_t(i));
        list.push_back({Damage::Cut, seedBase + uint32_t(i), rng() % head});
    }
    for (int i = 1; i <= scale; ++i) list.push_back({Damage::Cut, 0, size * size_t(i) / size_t(scale + 1)});
    const uint32_t values[] = {0, 0xFFFFFFFF, 0x7FFFFFFF, 0xFFFFFF7F, 0x80000000, 0x00010000};
    for (int i = 0; i < 4 * scale; ++i) {
        const uint32_t seed = seedBase + 100 + uint32_t(i);
        std::mt19937 rng(seed);
        Damage d{Damage::Kind(1 + i % 3), seed};
        d.at = rng() % (rng() % 2 ? head : size);
        if (d.kind == Damage::Overwrite) d.at = std::min(d.at, size - 4);
        d.value = d.kind == Damage::Flip ? rng() % 8 : values[rng() % 6];
        d.length = 1 + rng() % 512;
        list.push_back(d);
    }
    return list;
}

// Runs at a time: most of a run is the tool's fixed waits.
const int kParallelRuns = 24;
#if defined(OSTREL_SANITIZED_THREAD) || defined(OSTREL_SANITIZED_ADDRESS)
const int kScale = 1;  // 10 runs a file
#else
// Under an emulator every run costs several times the processor time.
const int kScale = OSTREL_EMULATOR[0] ? 1 : 2;  // 10 or 20 runs a file
#endif
// The bound catches a hang, not a slow run: emulated runs get more time.
const int kTimeoutSeconds = OSTREL_EMULATOR[0] ? 90 : 20;

TEST(HostileFile, DamagedFilesEndCleanly) {
    TempDir dir;
    struct Case {
        size_t fixture;
        std::string source;
        Damage damage;
    };
    const std::vector<Fixture> all = fixtures();
    std::vector<Bytes> originals;
    std::vector<Case> cases;
    std::vector<ToolRun> intact, piped;
    for (size_t i = 0; i < all.size(); ++i) {
        const std::string path = dir.path("original" + std::to_string(i) + "." + all[i].suffix);
        ASSERT_TRUE(all[i].make(path)) << all[i].label;
        originals.push_back(readFile(path));
        ASSERT_GT(originals.back().size(), 1024u) << all[i].label;
        intact.push_back(ToolRun({"-f=" + path, "-v=" + path + ".pcm"}, {{"HOSTAUDIO_UNITS_FILE", path + ".units"}}));
        // The same file from a pipe, through a name with its suffix.
        const std::string stdinLink = dir.path("piped" + std::to_string(i) + "." + all[i].suffix);
        symlink("/dev/stdin", stdinLink.c_str());
        piped.push_back(ToolRun({"-f=" + stdinLink, "-v=" + stdinLink + ".pcm"}));
        piped.back().prefix = {"sh", "-c", "cat '" + path + "' | exec \"$0\" \"$@\""};
    }
    std::vector<ToolResult> decoded = runTools(intact), fromPipes = runTools(piped);
    // Every format reads a pipe as a file, but those whose readers need to seek, refused at once.
    for (size_t i = 0; i < all.size(); ++i) {
        const bool refused = all[i].suffix == "m4a" || all[i].suffix == "ra" || all[i].label == "ape old layout";
        const std::string what = all[i].suffix == "ape" ? "old APE" : all[i].suffix;
        EXPECT_EQ(refused ? 255 : decoded[i].exitCode, fromPipes[i].exitCode) << all[i].label;
        if (refused) {
            EXPECT_NE(std::string::npos, fromPipes[i].out.find("[AST][ERR]Input is not seekable, " + what +
                                                               " files are read from regular files only.\n"))
                << all[i].label;
            continue;
        }
        // A WAV output from a pipe has room for RF64 in its header.
        const size_t room = all[i].suffix == "wav" ? 36 : 0;
        const Bytes fromFile = readFile(intact[i].args[1].substr(3)), fromPipe = readFile(piped[i].args[1].substr(3));
        EXPECT_TRUE(
            fromPipe.size() == fromFile.size() + room &&
            std::equal(fromFile.begin() + long(room ? 44 : 0), fromFile.end(), fromPipe.begin() + long(room ? 80 : 0)))
            << all[i].label;
    }
#ifdef OSTREL_COMPARE_BINARY
    // The intact decodes judged as one corpus run, as CI runs a corpus.
    std::string list;
    int worst = 0;
    for (size_t i = 0; i < all.size(); ++i) {
        list += intact[i].args[0].substr(3) + "\t" + intact[i].args[1].substr(3) + "\t" + all[i].compareOptions + "\n";
        worst = all[i].verdict.empty() ? 2 : worst;
    }
    writeFile(dir.path("corpus.txt"), Bytes(list.begin(), list.end()));
    const ToolResult judged =
        compare({{"--corpus=" + dir.path("corpus.txt"), "--report=" + dir.path("index.html")}})[0];
    EXPECT_EQ(worst, judged.exitCode);
    for (size_t i = 0; i < all.size(); ++i) {
        const std::string input = intact[i].args[0].substr(3), pcm = intact[i].args[1].substr(3);
        const std::string line = all[i].verdict.empty() ? "ERROR " + input + ": cannot open " + pcm + ": no such file"
                                                        : "PASS  " + input + ": " + all[i].verdict;
        EXPECT_NE(std::string::npos, judged.out.find(line + "\n")) << all[i].label << "\n" << judged.out;
    }
#endif
    for (size_t i = 0; i < all.size(); ++i) {
        const std::string path = intact[i].args[0].substr(3);
        const std::vector<Bytes> units = readUnits(path + ".units");
        // Units that give no PCM fail the run.
        ASSERT_EQ(all[i].verdict.empty() && !units.empty() ? 255 : 0, decoded[i].exitCode) << all[i].label << " intact";
        const size_t headers = headersEnd(originals[i], all[i].suffix, units);
        for (const Damage& d : damages(originals[i].size(), headers, uint32_t(i) * 1000, kScale))
            cases.push_back({i, path, d});
    }

    std::vector<ToolResult> results(cases.size());
    std::atomic<size_t> next{0};
    std::vector<std::thread> workers;
    for (int w = 0; w < kParallelRuns; ++w)
        workers.emplace_back([&] {
            for (size_t i; (i = next++) < cases.size();) {
                const Case& c = cases[i];
                const std::string in = dir.path(std::to_string(i) + "." + all[c.fixture].suffix), out = in + ".pcm";
                writeFile(in, c.damage.apply(originals[c.fixture]));
                ToolRun run({"-f=" + in, "-v=" + out});
                run.timeoutSeconds = kTimeoutSeconds;
                results[i] = runTool(run);
                unlink(in.c_str());
                unlink(out.c_str());
            }
        });
    for (std::thread& t : workers) t.join();

    const char* findings[] = {"ERROR: AddressSanitizer", "ERROR: LeakSanitizer",
                              "runtime error:", "WARNING: ThreadSanitizer"};
    size_t failures = 0;
    for (size_t i = 0; i < cases.size(); ++i) {
        const ToolResult& r = results[i];
        const Damage& d = cases[i].damage;
        bool bad = r.timedOut || (r.exitCode != 0 && r.exitCode != 255) ||
                   r.out.find("Stack trace:\n") != std::string::npos;  // the crash report
        for (const char* f : findings) bad = bad || r.err.find(f) != std::string::npos;
        if (!bad) continue;
        ++failures;
        const std::string tail = r.out.size() > 1500 ? r.out.substr(r.out.size() - 1500) : r.out;
        ADD_FAILURE() << all[cases[i].fixture].label << " (" << cases[i].source << "), "
                      << "damage " << d.kind << " at " << d.at << " (value " << d.value << ", length " << d.length
                      << "), seed " << d.seed << ": "
                      << (r.timedOut ? "timed out" : "exit " + std::to_string(r.exitCode)) << ", signal "
                      << r.termSignal << "\nstdout tail:\n"
                      << tail << "\nstderr:\n"
                      << r.err.substr(0, 3000);
        if (failures >= 20) break;
    }
}

}  // namespace
