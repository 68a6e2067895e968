// The command line, validation, suffixes, input errors, output faults and signals, seen from outside.
#include <gtest/gtest.h>

#include <csignal>
#include <fcntl.h>
#include <functional>
#include <regex>
#include <sys/stat.h>
#include <unistd.h>

#include "ParallelRuns.h"
#include "TestSupport.h"

using namespace blackbox;
using testsupport::readFile;
using testsupport::TempDir;
using testsupport::WavLayout;
using testsupport::wavFile;
using testsupport::writeFile;

namespace {

const std::string kNoSave = "[AST][ERR]Inexistent save file name, decode to track will be activated.\n";
const std::string kBadFile = "[AST][ERR]Invalid file name, please input a valid value.\n";
const std::string kParseFailed = "[AST][ERR]Failed to parse arg.\n";

TEST(CommandLine, ParseFailuresPrintValidationThenHelp) {
    struct Case {
        std::vector<std::string> args;
        std::string validation;
    };
    const Case cases[] = {
        {{}, kBadFile + kNoSave},
        {{"-h"}, kBadFile + kNoSave},
        // Words after -h are not parsed, words before it are.
        {{"-f=a.wav", "--help", "-v=x.pcm"}, kNoSave},
        {{"-f=a.wav", "-v=x.pcm", "-h"}, ""},
        {{"-g=", "-f=a.wav", "-v=o"}, "[AST][ERR]Invalid progress name, please input a valid value.\n"},
        {{"--name=", "-f=a.wav", "-x=1"}, "[AST][ERR]Invalid track name, please input a valid value.\n" + kNoSave},
        {{"-g=", "-n=", "-f="},
         "[AST][ERR]Invalid progress name, please input a valid value.\n"
         "[AST][ERR]Invalid track name, please input a valid value.\n" +
             kBadFile + kNoSave},
        // Prefixes are case-sensitive and need the '='.
        {{"-F=a.wav", "-f", "--FILE=a.wav"}, kBadFile + kNoSave},
    };
    for (const Case& c : cases) {
        ToolResult r = runTool({c.args});
        EXPECT_EQ(255, r.exitCode);
        EXPECT_EQ(c.validation + helpText() + kParseFailed, r.out) << testing::PrintToString(c.args);
        EXPECT_EQ("", r.err);
    }
}

TEST(CommandLine, SuffixSelectsTheCodec) {
    testsupport::TempDir dir;
    struct Case {
        std::string file;
        std::string tail;  // what follows the Args lines
    };
    const std::string noReader = "[AST][ERR]Failed to create audio data reader.\n";
    const Case cases[] = {
        {"song", "[AST][ERR]Unknown file type.\n"},
        {"song.", "[AST][ERR]Unknown file type.\n"},
        {"dir.old/song", "[AST][INF]File suffix=old/song, codec=-1.\n" + noReader},
        {"song.xyz", "[AST][INF]File suffix=xyz, codec=-1.\n" + noReader},
        {"song.mp3", "[AST][INF]File suffix=mp3, codec=48.\n"
                     "[AST][ERR]Failed to open file 'song.mp3'.\n"
                     "[AST][ERR]Invalid audio data reader.\n"},
        {"song.MP3", "[AST][INF]File suffix=MP3, codec=48.\n"
                     "[AST][ERR]Failed to open file 'song.MP3'.\n"
                     "[AST][ERR]Invalid audio data reader.\n"},
        {"a.b.aac", "[AST][INF]File suffix=aac, codec=16.\n"
                    "[AST][ERR]Failed to open file 'a.b.aac'.\n"
                    "[AST][ERR]Invalid audio data reader.\n"},
        {"song.ac3", "[AST][INF]File suffix=ac3, codec=80.\n"
                     "[AST][ERR]Failed to open file 'song.ac3'.\n"
                     "[AST][ERR]Invalid audio data reader.\n"},
        {"song.ec3", "[AST][INF]File suffix=ec3, codec=80.\n"
                     "[AST][ERR]Failed to open file 'song.ec3'.\n"
                     "[AST][ERR]Invalid audio data reader.\n"},
        {"song.flac", "[AST][INF]File suffix=flac, codec=96.\n"
                      "[AST][ERR]Failed to open file 'song.flac'.\n"
                      "[AST][ERR]Invalid audio data reader.\n"},
        {"song.ogg", "[AST][INF]File suffix=ogg, codec=112.\n"
                     "[AST][ERR]Failed to open file 'song.ogg'.\n"
                     "[AST][ERR]Invalid audio data reader.\n"},
        {"song.ape", "[AST][INF]File suffix=ape, codec=128.\n"
                     "[AST][ERR]Failed to open file 'song.ape'.\n"
                     "[AST][ERR]Invalid audio data reader.\n"},
        {"song.wma", "[AST][INF]File suffix=wma, codec=144.\n"
                     "[AST][ERR]Failed to open file 'song.wma'.\n"
                     "[AST][ERR]Invalid audio data reader.\n"},
        {"song.Alac", "[AST][INF]File suffix=Alac, codec=160.\n"
                      "[AST][ERR]Failed to open file 'song.Alac'.\n"
                      "[AST][ERR]Invalid audio data reader.\n"},
        {"song.m4a", "[AST][INF]File suffix=m4a, codec=160.\n"
                     "[AST][ERR]Failed to open file 'song.m4a'.\n"
                     "[AST][ERR]Invalid audio data reader.\n"},
        {"song.ra", "[AST][INF]File suffix=ra, codec=176.\n"
                    "[AST][ERR]Failed to open file 'song.ra'.\n"
                    "[AST][ERR]Invalid audio data reader.\n"},
        {"song.wav", "[AST][INF]File suffix=wav, codec=0.\n"
                     "[AST][ERR]Failed to open file 'song.wav'.\n"
                     "[AST][ERR]Invalid audio data reader.\n"},
        {"song.PCM", "[AST][INF]File suffix=PCM, codec=0.\n"
                     "[AST][ERR]Failed to open file 'song.PCM'.\n"
                     "[AST][ERR]Invalid audio data reader.\n"},
    };
    for (const Case& c : cases) {
        ToolResult r = runTool({{"-f=" + c.file, "-v=" + dir.path("out.pcm")}});
        EXPECT_EQ(255, r.exitCode) << c.file;
        EXPECT_EQ(argsLines(c.file, dir.path("out.pcm")) + c.tail, r.out) << c.file;
    }
}

TEST(CommandLine, LongOptionsAndLastValueWins) {
    testsupport::TempDir dir;
    ToolResult r =
        runTool({{"--progress=first", "-g=second", "--name=dec", "--file=x.xyz", "--save=o.pcm", "-f=y.zzz"}});
    EXPECT_EQ(255, r.exitCode);
    EXPECT_EQ(argsLines("y.zzz", "o.pcm", "second", "dec") +
                  "[AST][INF]File suffix=zzz, codec=-1.\n[AST][ERR]Failed to create audio data reader.\n",
              r.out);

    // Over-long names are cut to the field's size (paths are refused, below).
    std::string longName(300, 'n');
    r = runTool({{"-g=" + longName, "-n=" + longName, "-f=x"}});
    EXPECT_EQ(
        kNoSave + argsLines("x", "", std::string(63, 'n'), std::string(63, 'n')) + "[AST][ERR]Unknown file type.\n",
        r.out);
}

// The crash report's frames and address differ from run to run.
std::string foldStack(const std::string& out) {
    static const std::regex frames("info\\.si_addr  = [^\n]*\nStack trace:\n(?:[^\n]*\n){1,20}End of stack trace\n$");
    return std::regex_replace(out, frames, "info.si_addr  = ...\nStack trace:\n...\nEnd of stack trace\n");
}

// A 4 KiB device of its own where mounting is allowed; /dev/full stands in otherwise.
struct SmallDevice {
    std::string path;
    bool mounted;
    explicit SmallDevice(const std::string& at) : path(at) {
        mkdir(at.c_str(), 0755);
        mounted = shell("mount -t tmpfs -o size=4k tmpfs " + at + " 2>/dev/null");
    }
    ~SmallDevice() {
        if (mounted) shell("umount " + path);
    }
};

// Every misuse and fault ends with its lines and status, and what reached the output file stays
// there with a completed header.
TEST(CommandLine, NothingIsLostInSilence) {
    TempDir dir;
    chmod(dir.root().c_str(), 0755);  // the unprivileged run reads the inputs here
    const WavLayout layout{48000, 2, 16, 0, false};
    const std::vector<uint8_t> wav = wavFile(layout, testsupport::sinePcm(48000, 2, 16, 48000));  // 50 units
    const std::string in = dir.path("in.wav");
    writeFile(in, wav);
    // Its 20 ms units of 30720 bytes leave the decoder as whole 2048-byte blocks, so a write
    // fault falls at a known byte, and its 3 s keep the feed going past the reader thread's end.
    const WavLayout faultLayout{192000, 2, 32, 0, false};
    const std::vector<uint8_t> faultPcm = testsupport::sinePcm(192000, 2, 32, 192000 * 3);
    const std::string fault = dir.path("fault.wav");
    writeFile(fault, wavFile(faultLayout, faultPcm));
    auto faultWav = [&](size_t n) { return wavFile(faultLayout, {faultPcm.begin(), faultPcm.begin() + long(n)}); };

    // Paths of 255 characters are whole; one more is refused, not cut to name another file.
    const std::string base = dir.root() + "/";
    const std::string long255 = base + std::string(255 - base.size() - 4, 'a') + ".wav";
    const std::string save255 = base + std::string(255 - base.size() - 4, 'b') + ".wav";
    const std::string save256 = base + std::string(256 - base.size() - 4, 'c') + ".wav";
    writeFile(long255, wav);
    const std::string missing = dir.path("missing.pcm"), nullPcm = dir.path("null.pcm"), out = dir.path("o.pcm");
    const std::string outDir = dir.path("outdir"), readOnly = dir.path("ro.wav"), limited = dir.path("limited.wav");
    symlink(in.c_str(), dir.path("link.wav").c_str());
    link(in.c_str(), dir.path("hard.wav").c_str());
    symlink("/dev/null", nullPcm.c_str());
    for (const char* name : {"d.wav", "d.mp3", "outdir"}) mkdir(dir.path(name).c_str(), 0755);
    writeFile(readOnly, {'k', 'e', 'e', 'p'});
    chmod(readOnly.c_str(), 0444);
    SmallDevice device(dir.path("small"));
    const std::string full = device.mounted ? device.path + "/o.wav" : "/dev/full";

    const std::string refused = helpText() + kParseFailed;
    const std::string badRate = "[AST][ERR]Invalid sample frequency, please input 4000 to 192000.\n";
    const std::string badChannelAndBits = "[AST][ERR]Invalid channel, please input 1 or 2.\n"
                                          "[AST][ERR]Invalid bit depth, please input 8, 9, 16, 17, 32 or 33.\n";
    const std::string end = "[AST][INF]Reached end of data:0.\n[AST][WRN]Read audio data stopped.\n"
                            "[AST][INF]Decoder(decoder0) is working still, waiting...\n";
    const std::string stopped = "[AST][WRN]Failed to write PCM data.\n";
    auto decoding = [&](const std::string& input, const std::string& save, const WavLayout& l) {
        return argsLines(input, save) + "[AST][INF]File suffix=wav, codec=0.\n" +
               wavReaderLines("parseWavHeader", l.rate, l.channels, l.bitsPerSample, 44) + kThreadLines;
    };
    auto cannotOpen = [&](const std::string& save) {
        return decoding(fault, save, faultLayout) + "[AST][ERR]Failed to open file '" + save +
               "'.\n[AST][ERR]File is NOT open.\n[AST][ERR]Failed to write:-1.\n" + stopped + end +
               "[AST][ERR]File is NOT open.\n[AST][ERR]Failed to seek to 0 from 2, ret=0.\n";
    };
    auto numbersTaken = kNoSave + argsLines(missing, "") + "[AST][INF]File suffix=pcm, codec=0.\n" +
                        "[AST][ERR]Failed to open file '" + missing + "'.\n[AST][ERR]Invalid audio data reader.\n";

    enum class Holds { Unchecked, Nothing, Exactly, CompletedWav };  // the output file afterwards
    struct Row {
        std::vector<std::string> args;
        int status;
        std::string lines;  // the main thread's, stack frames folded
        std::string output = "";
        Holds holds = Holds::Unchecked;
        std::vector<uint8_t> bytes = {};  // Exactly: the file; CompletedWav: the WAV it is a start of
        std::function<void(ToolRun&)> setup = nullptr;
    };
    std::vector<Row> rows = {
        {{"-f=" + long255, "-v=" + save255}, 0, decoding(long255, save255, layout) + end, save255, Holds::Exactly, wav},
        {{"-f=" + long255 + ".mp3", "-v=" + out}, 255, kBadFile + refused, out, Holds::Nothing},
        {{"-f=" + in, "-v=" + save256},
         255,
         "[AST][ERR]Invalid save file name, please input a valid value.\n" + refused,
         save256.substr(0, 255),
         Holds::Nothing},
        {{"-f=" + missing, "-c=3", "-b=24"}, 255, kNoSave + badChannelAndBits + refused},
        {{"-f=" + missing, "--channel=0", "--bit=-16"}, 255, kNoSave + badChannelAndBits + refused},
        {{"-f=" + missing, "-s=4000", "-c=1", "-b=8"}, 255, numbersTaken},
        {{"-f=" + missing, "-s=192000", "-c=2", "-b=33"}, 255, numbersTaken},
        // Directories are refused as input whatever the suffix; character devices are read.
        {{"-f=" + dir.path("d.wav"), "-v=" + out},
         255,
         argsLines(dir.path("d.wav"), out) + "[AST][INF]File suffix=wav, codec=0.\n[AST][ERR]Failed to open file '" +
             dir.path("d.wav") + "'.\n[AST][ERR]Invalid audio data reader.\n",
         out,
         Holds::Nothing},
        {{"-f=" + dir.path("d.mp3"), "-v=" + out},
         255,
         argsLines(dir.path("d.mp3"), out) + "[AST][INF]File suffix=mp3, codec=48.\n[AST][ERR]Failed to open file '" +
             dir.path("d.mp3") + "'.\n[AST][ERR]Invalid audio data reader.\n",
         out,
         Holds::Nothing},
        {{"-f=" + nullPcm},
         0,
         kNoSave + argsLines(nullPcm, "") +
             "[AST][INF]File suffix=pcm, codec=0.\n[AST][INF]Reached end of data:0.\n"
             "[AST][WRN]Treat as PCM raw data because failed to parse WAVE header.\n" +
             wavReaderLines("PCM format", 48000, 2, 16, 0) + kThreadLines + end},
        {{"-f=" + fault, "-v=" + dir.path("no/o.wav")},
         255,
         cannotOpen(dir.path("no/o.wav")),
         dir.path("no/o.wav"),
         Holds::Nothing},
        {{"-f=" + fault, "-v=" + outDir}, 255, cannotOpen(outDir)},
        {{"-f=" + fault, "-v=" + readOnly},
         255,
         cannotOpen(readOnly),
         readOnly,
         Holds::Exactly,
         {'k', 'e', 'e', 'p'},
         [](ToolRun& r) { r.prefix = asNobody("+sys_nice"); }},
        // 4096 bytes hold the header, one block and 2004 bytes of the next.
        {{"-f=" + fault, "-v=" + full},
         255,
         decoding(fault, full, faultLayout) + (device.mounted
                                                   ? "[AST][ERR]Failed to write:2004.\n" + stopped + end
                                                   : "[AST][ERR]Failed to write:0.\n[AST][ERR]Failed to write:0.\n" +
                                                         stopped + end + "[AST][ERR]Failed to write:0.\n"),
         full,
         device.mounted ? Holds::Exactly : Holds::Unchecked,
         faultWav(4096 - 44)},
        {{"-f=" + fault, "-v=" + limited},
         255,
         decoding(fault, limited, faultLayout) + "[AST][ERR]Failed to write:1000.\n" + stopped + end,
         limited,
         Holds::Exactly,
         faultWav(2048 + 1000),
         [](ToolRun& r) { r.fileSizeLimit = 44 + 2048 + 1000; }},
        {{"-f=" + in, "-v=" + dir.path("piped.wav")},
         0,
         "",
         dir.path("piped.wav"),
         Holds::Exactly,
         wav,
         [](ToolRun& r) { r.stdoutTo = ToolRun::Stdout::BrokenPipe; }},
        {{"-f=" + in, "-v=" + dir.path("closed.wav")},
         0,
         "",
         dir.path("closed.wav"),
         Holds::Exactly,
         wav,
         [](ToolRun& r) { r.stdoutTo = ToolRun::Stdout::Closed; }},
    };
    for (const char* rate :
         {"-s=abc", "-s=0", "-s=4294967296", "-s=48000abc", "-s=+8000", "-s=", "-s=3999", "--sample=192001"})
        rows.push_back({{"-f=" + missing, rate}, 255, kNoSave + badRate + refused});
    for (const char* name : {"in.wav", "link.wav", "hard.wav"})
        rows.push_back(
            {{"-f=" + in, "-v=" + dir.path(name)},
             255,
             argsLines(in, dir.path(name)) + "[AST][ERR]Save file is the file to decode, please input another one.\n",
             in,
             Holds::Exactly,
             wav});

    // Inputs that stall after 524288 bytes (136 whole units), as FIFOs that never end, so that a
    // signal finds PCM written and the decode not over.
    const std::vector<uint8_t> stallWav = wavFile(layout, testsupport::sinePcm(48000, 2, 16, 48000 * 3));
    const std::string folded = "info.si_errno = 0\ninfo.si_addr  = ...\nStack trace:\n...\nEnd of stack trace\n";
    std::vector<int> stallFds;
    for (int signum : {SIGINT, SIGTERM, SIGHUP, SIGSEGV}) {
        std::string n = std::to_string(signum), fifo = dir.path("stall" + n + ".wav"), save = dir.path(n + ".wav");
        mkfifo(fifo.c_str(), 0644);
        stallFds.push_back(open(fifo.c_str(), O_RDWR));
        fcntl(stallFds.back(), F_SETPIPE_SZ, 1 << 20);
        EXPECT_EQ(524288, write(stallFds.back(), stallWav.data(), 524288));
        std::string report = signum == SIGHUP    ? ""
                             : signum == SIGSEGV ? "signum = 11\nSegmentation Fault!\ninfo.si_code  = 0 ()\n" + folded
                                                 : "signum = " + n + "\n" + folded;
        rows.push_back({{"-f=" + fifo, "-v=" + save},
                        255,
                        decoding(fifo, save, layout) + "[AST][WRN]Signal " + n + " received.\n" + report,
                        save,
                        Holds::CompletedWav,
                        stallWav,
                        [signum](ToolRun& r) {
                            r.trigger = "Encode params";
                            r.signal = signum;
                            r.signalDelayMs = 500;
                        }});
    }

    std::vector<ToolRun> runs;
    for (const Row& row : rows) {
        runs.emplace_back(row.args);
        runs.back().timeoutSeconds = 60;
        if (row.setup) row.setup(runs.back());
    }
    const std::vector<ToolResult> results = runTools(runs);
    for (int fd : stallFds) close(fd);
    for (size_t i = 0; i < rows.size(); ++i) {
        const Row& row = rows[i];
        if (!runs[i].prefix.empty() && access("/usr/bin/setpriv", X_OK) != 0) continue;
        SCOPED_TRACE(testing::PrintToString(row.args));
        EXPECT_EQ(row.status, results[i].exitCode);
        EXPECT_EQ(row.lines, foldStack(mainThreadLines(results[i].out)));
        EXPECT_FALSE(std::regex_search(results[i].err, std::regex("Sanitizer|runtime error:"))) << results[i].err;
        std::vector<uint8_t> written = readFile(row.output);
        if (row.holds == Holds::Nothing) {
            EXPECT_NE(0, access(row.output.c_str(), F_OK));
        } else if (row.holds == Holds::Exactly) {
            EXPECT_TRUE(row.bytes == written) << written.size() << " bytes";
        } else if (row.holds == Holds::CompletedWav) {
            // Its header counts the PCM that reached it, a start of the input's.
            ASSERT_GT(written.size(), 44u);
            ASSERT_LE(written.size(), row.bytes.size());
            std::vector<uint8_t> pcm(row.bytes.begin() + 44, row.bytes.begin() + long(written.size()));
            EXPECT_TRUE(wavFile(layout, pcm) == written) << written.size() << " bytes";
        }
    }
}

}  // namespace
