// The command line, validation, suffixes, input errors, output faults and signals, seen from outside.
#include <gtest/gtest.h>

#include <csignal>
#include <fcntl.h>
#include <functional>
#include <future>
#include <regex>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

#include "DecodeCheck.h"

using namespace blackbox;
using testsupport::WavLayout;
using testsupport::wavFile;

namespace {

const std::string kNoSave = "[AST][ERR]Inexistent save file name, decode to track will be activated.\n";
const std::string kBadFile = "[AST][ERR]Invalid file name, please input a valid value.\n";
const std::string kParseFailed = "[AST][ERR]Failed to parse arg.\n";
const std::string kBadProgress = "[AST][ERR]Invalid progress name, please input a valid value.\n";
const std::string kBadName = "[AST][ERR]Invalid track name, please input a valid value.\n";

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

// The WAV file with the 36-byte JUNK chunk that holds room for an RF64 header.
Bytes withRoom(const Bytes& wav) {
    Bytes out(wav.begin(), wav.begin() + 12);
    const uint32_t riff = uint32_t(wav.size() + 36 - 8);
    for (int i = 0; i < 4; ++i) out[4 + size_t(i)] = uint8_t(riff >> (8 * i));
    for (char b : {'J', 'U', 'N', 'K', char(28), char(0), char(0), char(0)}) out.push_back(uint8_t(b));
    out.resize(out.size() + 28);
    out.insert(out.end(), wav.begin() + 12, wav.end());
    return out;
}

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
    const Bytes keep = {'k', 'e', 'e', 'p'};
    writeFile(readOnly, keep);
    chmod(readOnly.c_str(), 0444);
    SmallDevice device(dir.path("small"));
    const std::string full = device.mounted ? device.path + "/o.wav" : "/dev/full";

    const std::string refused = helpText() + kParseFailed;
    const std::string badRate = "[AST][ERR]Invalid sample frequency, please input 4000 to 192000.\n";
    const std::string badChannelAndBits = "[AST][ERR]Invalid channel, please input 1 or 2.\n"
                                          "[AST][ERR]Invalid bit depth, please input 8, 9, 16, 17, 32 or 33.\n";
    const std::string end = "[AST][INF]Reached end of data:0.\n" + std::string(kStopped);
    // The last line of a run that handed units over; the decode tables check its numbers.
    const std::string counted = "[AST][INF]Handed N units to the decoder, wrote M PCM bytes.\n";
    const std::string stopped = "[AST][WRN]Failed to write PCM data.\n";
    auto decoding = [&](const std::string& input, const std::string& save, const WavLayout& l) {
        return argsLines(input, save) + "[AST][INF]File suffix=wav, codec=0.\n" +
               wavReaderLines("parseWavHeader", l.rate, l.channels, l.bitsPerSample, 44) + kThreadLines;
    };
    auto cannotOpen = [&](const std::string& save) {
        return decoding(fault, save, faultLayout) + "[AST][ERR]Failed to open file '" + save +
               "'.\n[AST][ERR]File is NOT open.\n[AST][ERR]Failed to write:-1.\n" + stopped + end +
               "[AST][ERR]File is NOT open.\n[AST][ERR]Failed to seek to 0 from 2, ret=0.\n" + counted;
    };
    const std::string noReader = "[AST][ERR]Failed to create audio data reader.\n";
    // The lines up to the codec the suffix picks; then those of a reader that cannot open the file.
    auto suffixed = [](const std::string& file, const std::string& save, int codec) {
        return argsLines(file, save) + "[AST][INF]File suffix=" + file.substr(file.rfind('.') + 1) +
               ", codec=" + std::to_string(codec) + ".\n";
    };
    auto unreadable = [&](const std::string& file, const std::string& save, int codec) {
        return suffixed(file, save, codec) + "[AST][ERR]Failed to open file '" + file +
               "'.\n[AST][ERR]Invalid audio data reader.\n";
    };
    const std::string numbersTaken = kNoSave + unreadable(missing, "", 0);
    auto ignored = [](const std::string& what) { return "[AST][WRN]Ignored " + what + ".\n"; };
    const std::string newline = dir.path("a\tb\nc.pcm"), escapedNewline = dir.path("a\\tb\\nc.pcm");
    const std::string longName(300, 'n');

    enum class Holds { Unchecked, Nothing, Exactly, CompletedWav };  // the output file afterwards
    struct Row {
        std::string args;  // split at spaces
        int status;
        std::string lines;  // the main thread's, stack frames folded
        std::string output = "";
        Holds holds = Holds::Unchecked;
        std::vector<uint8_t> bytes = {};  // Exactly: the file; CompletedWav: the WAV it is a start of
        std::function<void(ToolRun&)> setup = nullptr;
        std::string err = "";  // the host service's, but for the audio a stopped reader thread left
    };
    std::vector<Row> rows = {
        // Parse failures print the validation, then the help; words after -h are not parsed.
        {"", 255, kBadFile + kNoSave + refused},
        {"-h", 255, kBadFile + kNoSave + refused},
        {"-f=a.wav --help -v=x.pcm", 255, kNoSave + refused},
        {"-f=a.wav -v=x.pcm -h", 255, refused},
        {"-g= -f=a.wav -v=o", 255, kBadProgress + refused},
        {"--name= -f=a.wav -x=1", 255, ignored("unknown argument '-x=1'") + kBadName + kNoSave + refused},
        {"-g= -n= -f=", 255, kBadProgress + kBadName + kBadFile + kNoSave + refused},
        // Prefixes are case-sensitive and need the '=': each word left over gets its line.
        {"-F=a.wav -f --FILE=a.wav", 255,
         ignored("unknown argument '-F=a.wav'") + ignored("'-f', please write -f=value") +
             ignored("unknown argument '--FILE=a.wav'") + kBadFile + kNoSave + refused},
        {"-f=" + missing + " -v o.pcm -vo.pcm --save o.pcm --sava=o.pcm", 255,
         ignored("'-v o.pcm', please write -v=o.pcm") + ignored("'-vo.pcm', please write -v=o.pcm") +
             ignored("'--save o.pcm', please write --save=o.pcm") + ignored("unknown argument '--sava=o.pcm'") +
             numbersTaken},
        // Control characters in names and values are escaped: no line is forged.
        {"-n=x -f=",
         255,
         kNoSave + argsLines(escapedNewline, "", "example0", "x\\n[AST][ERR]forged") +
             "[AST][INF]File suffix=pcm, codec=0.\n[AST][ERR]Failed to open file '" + escapedNewline +
             "'.\n[AST][ERR]Invalid audio data reader.\n",
         "",
         Holds::Unchecked,
         {},
         [newline](ToolRun& r) {
             r.args = {"-n=x\n[AST][ERR]forged", "-f=" + newline};
         }},
        // Long options; the last value wins; over-long names are cut to the field's size.
        {"--progress=first -g=second --name=dec --file=x.xyz --save=o.pcm -f=y.zzz", 255,
         argsLines("y.zzz", "o.pcm", "second", "dec") + "[AST][INF]File suffix=zzz, codec=-1.\n" + noReader},
        {"-g=" + longName + " -n=" + longName + " -f=x", 255,
         kNoSave + argsLines("x", "", std::string(63, 'n'), std::string(63, 'n')) + "[AST][ERR]Unknown file type.\n"},
        // The suffix is what follows the last dot, in any case.
        {"-f=song -v=" + out, 255, argsLines("song", out) + "[AST][ERR]Unknown file type.\n"},
        {"-f=song. -v=" + out, 255, argsLines("song.", out) + "[AST][ERR]Unknown file type.\n"},
        {"-f=dir.old/song -v=" + out, 255, suffixed("dir.old/song", out, -1) + noReader},
        {"-f=" + long255 + " -v=" + save255, 0, decoding(long255, save255, layout) + end + counted, save255, Holds::Exactly, wav},
        {"-f=" + long255 + ".mp3 -v=" + out, 255, kBadFile + refused, out, Holds::Nothing},
        {"-f=" + in + " -v=" + save256, 255,
         "[AST][ERR]Invalid save file name, please input a valid value.\n" + refused, save256.substr(0, 255),
         Holds::Nothing},
        {"-f=" + missing + " -c=3 -b=24", 255, kNoSave + badChannelAndBits + refused},
        {"-f=" + missing + " --channel=0 --bit=-16", 255, kNoSave + badChannelAndBits + refused},
        {"-f=" + missing + " -s=4000 -c=1 -b=8", 255, numbersTaken},
        {"-f=" + missing + " -s=192000 -c=2 -b=33", 255, numbersTaken},
        // Directories are refused as input whatever the suffix; character devices are read.
        {"-f=" + dir.path("d.wav") + " -v=" + out, 255, unreadable(dir.path("d.wav"), out, 0), out, Holds::Nothing},
        {"-f=" + dir.path("d.mp3") + " -v=" + out, 255, unreadable(dir.path("d.mp3"), out, 48), out, Holds::Nothing},
        {"-f=" + nullPcm, 0,
         kNoSave + argsLines(nullPcm, "") +
             "[AST][INF]File suffix=pcm, codec=0.\n[AST][INF]Reached end of data:0.\n"
             "[AST][WRN]Treat as PCM raw data because failed to parse WAVE header.\n" +
             wavReaderLines("PCM format", 48000, 2, 16, 0) + kThreadLines + end},
        {"-f=" + fault + " -v=" + dir.path("no/o.wav"), 255, cannotOpen(dir.path("no/o.wav")), dir.path("no/o.wav"),
         Holds::Nothing},
        {"-f=" + fault + " -v=" + outDir, 255, cannotOpen(outDir)},
        {"-f=" + fault + " -v=" + readOnly, 255, cannotOpen(readOnly), readOnly, Holds::Exactly, keep,
         [](ToolRun& r) { r.prefix = asNobody("+sys_nice"); }},
        // 4096 bytes hold the header, one block and 2004 bytes of the next.
        {"-f=" + fault + " -v=" + full, 255,
         decoding(fault, full, faultLayout) + (device.mounted
                                                   ? "[AST][ERR]Failed to write:2004.\n" + stopped + end + counted
                                                   : "[AST][ERR]Failed to write:0.\n[AST][ERR]Failed to write:0.\n" +
                                                         stopped + end + "[AST][ERR]Failed to write:0.\n" + counted),
         full, device.mounted ? Holds::Exactly : Holds::Unchecked, faultWav(4096 - 44)},
        {"-f=" + fault + " -v=" + limited, 255,
         decoding(fault, limited, faultLayout) + "[AST][ERR]Failed to write:1000.\n" + stopped + end + counted, limited,
         Holds::Exactly, faultWav(2048 + 1000), [](ToolRun& r) { r.fileSizeLimit = 44 + 2048 + 1000; }},
    };
    const std::pair<const char*, int> codecs[] = {{"song.MP3", 48},  {"a.b.aac", 16},   {"song.ac3", 80},
                                                  {"song.ec3", 80},  {"song.flac", 96}, {"song.ogg", 112},
                                                  {"song.ape", 128}, {"song.wma", 144}, {"song.Alac", 160},
                                                  {"song.m4a", 160}, {"song.ra", 176},  {"song.PCM", 0}};
    for (const auto& c : codecs)
        rows.push_back({std::string("-f=") + c.first + " -v=" + out, 255, unreadable(c.first, out, c.second)});
    for (const char* rate :
         {"-s=abc", "-s=0", "-s=4294967296", "-s=48000abc", "-s=+8000", "-s=", "-s=3999", "--sample=192001"})
        rows.push_back({"-f=" + missing + " " + rate, 255, kNoSave + badRate + refused});
    // Standard output a pipe nobody reads, or closed: the decode goes on.
    for (ToolRun::Stdout to : {ToolRun::Stdout::BrokenPipe, ToolRun::Stdout::Closed}) {
        const std::string save = dir.path(to == ToolRun::Stdout::Closed ? "closed.wav" : "piped.wav");
        rows.push_back(
            {"-f=" + in + " -v=" + save, 0, "", save, Holds::Exactly, wav, [to](ToolRun& r) { r.stdoutTo = to; }});
    }
    // The output is refused when it is the input, by any name, or the log's own stream.
    const std::string isInput = "[AST][ERR]Save file is the file to decode, please input another one.\n";
    auto opened = [&](const std::string& save) {
        return argsLines(in, save) + "[AST][INF]File suffix=wav, codec=0.\n" +
               wavReaderLines("parseWavHeader", 48000, 2, 16, 44);
    };
    for (const char* name : {"in.wav", "link.wav", "hard.wav"})
        rows.push_back(
            {"-f=" + in + " -v=" + dir.path(name), 255, opened(dir.path(name)) + isInput, in, Holds::Exactly, wav});
    rows.push_back(
        {"-f=" + in + " -v=/dev/fd/3", 255, opened("/dev/fd/3") + isInput, in, Holds::Exactly, wav, [in](ToolRun& r) {
             r.prefix = {"sh", "-c", "exec \"$0\" \"$@\" 3<>" + in};
         }});
    rows.push_back(
        {"-f=" + in + " -v=/dev/stdout", 255,
         opened("/dev/stdout") + "[AST][ERR]Save file is the log's standard output, please input another one.\n"});
    // Under nohup a hang-up is ignored: the run ends as if nothing came.
    const std::string hup = dir.path("hup.wav");
    rows.push_back({"-f=" + in + " -v=" + hup, 0, decoding(in, hup, layout) + end + counted, hup, Holds::Exactly, wav,
                    [](ToolRun& r) {
                        r.prefix = {"nohup"};
                        r.trigger = "Encode params";
                        r.signal = SIGHUP;
                        r.signalDelayMs = 300;
                    }});
    // A JUNK chunk of 2.2 GB, a hole in a sparse file, is skipped; as the input passes 1 GiB its
    // WAV output gets room to become RF64.
    const std::string holed = dir.path("holed.wav"), holedOut = dir.path("holed-out.wav");
    const uint32_t junk = 2200000000u;
    {
        Bytes head(wav.begin(), wav.begin() + 12), rest(wav.begin() + 12, wav.end());
        for (uint8_t b : {uint8_t('J'), uint8_t('U'), uint8_t('N'), uint8_t('K'), uint8_t(junk), uint8_t(junk >> 8),
                          uint8_t(junk >> 16), uint8_t(junk >> 24)})
            head.push_back(b);
        writeFile(holed, head);
        int fd = open(holed.c_str(), O_WRONLY);
        EXPECT_EQ(ssize_t(rest.size()), pwrite(fd, rest.data(), rest.size(), off_t(20) + junk));
        close(fd);
    }
    rows.push_back({"-f=" + holed + " -v=" + holedOut, 0,
                    argsLines(holed, holedOut) + "[AST][INF]File suffix=wav, codec=0.\n" +
                        "[AST][WRN]Skip WAV chunk(JUNK) of 2200000000 bytes.\n" +
                        wavReaderLines("parseWavHeader", 48000, 2, 16, int64_t(20) + junk + 24 + 8) + kThreadLines +
                        end + counted,
                    holedOut, Holds::Exactly, withRoom(wav)});

    // Inputs that stall after 524288 bytes (136 whole units), as FIFOs that never end, so that a
    // signal finds PCM written and the decode not over.
    const std::vector<uint8_t> stallWav = wavFile(layout, testsupport::sinePcm(48000, 2, 16, 48000 * 3));
    const std::string folded = "info.si_errno = 0\ninfo.si_addr  = ...\nStack trace:\n...\nEnd of stack trace\n";
    std::vector<int> stallFds;
    const std::string usr1Line = "[AST][INF]Signal SIGUSR1 received, progress is terminated manually.\n";
    for (int signum : {SIGINT, SIGTERM, SIGHUP, SIGSEGV, SIGUSR1}) {
        std::string n = std::to_string(signum), fifo = dir.path("stall" + n + ".wav"), save = dir.path(n + ".wav");
        mkfifo(fifo.c_str(), 0644);
        stallFds.push_back(open(fifo.c_str(), O_RDWR));
        fcntl(stallFds.back(), F_SETPIPE_SZ, 1 << 20);
        EXPECT_EQ(524288, write(stallFds.back(), stallWav.data(), 524288));
        // SIGUSR1 asks for a stop: the read it breaks off, with the 2004 bytes behind the last whole
        // unit, ends the feed.
        const std::string report =
            signum == SIGUSR1  ? usr1Line + "[AST][ERR]Failed to read:2004.\n" + kStopped + counted
            : signum == SIGHUP ? "[AST][WRN]Signal 1 received.\n"
            : signum == SIGSEGV
                ? "[AST][WRN]Signal 11 received.\nsignum = 11\nSegmentation Fault!\ninfo.si_code  = 0 ()\n" + folded
                : "[AST][WRN]Signal " + n + " received.\nsignum = " + n + "\n" + folded;
        rows.push_back({"-f=" + fifo + " -v=" + save, signum == SIGUSR1 ? 0 : 255,
                        decoding(fifo, save, layout) + report, save, Holds::CompletedWav, stallWav,
                        [signum](ToolRun& r) {
                            r.trigger = "Encode params";
                            r.signal = signum;
                            r.signalDelayMs = signum == SIGUSR1 ? 2000 : 500;  // USR1: once the FIFO is drained
                        }});
    }
    // A track gets every byte, the short last unit's too.
    const Bytes shortPcm = testsupport::sinePcm(48000, 2, 16, 24007);
    const std::string shortIn = dir.path("short.wav"), played = dir.path("track.bin");
    writeFile(shortIn, wavFile(layout, shortPcm));
    rows.push_back({"-f=" + shortIn, 0,
                    kNoSave + decoding(shortIn, "", layout) + "[AST][INF]Reached end of data:28.\n" + end + counted, played,
                    Holds::Exactly, shortPcm, [played](ToolRun& r) {
                        r.env = {{"HOSTAUDIO_TRACK_FILE", played}, {"HOSTAUDIO_TRACK_REALTIME", "0"}};
                    }});
    // SIGUSR1 stops a decode of two minutes to a real-time track early and cleanly.
    const WavLayout low{8000, 1, 8, 0, false};
    const std::string longLow = dir.path("low.wav");
    writeFile(longLow, wavFile(low, testsupport::sinePcm(8000, 1, 8, 8000 * 120)));
    auto onUsr1 = [](ToolRun& r) {
        r.trigger = "Encode params";
        r.signal = SIGUSR1;
        r.timeoutSeconds = 15;
    };
    rows.push_back({"-f=" + longLow, 0, kNoSave + decoding(longLow, "", low) + usr1Line + kStopped + counted, "",
                    Holds::Unchecked, Bytes(), onUsr1});
    // As nobody with an rtprio limit of 0: a file decode needs no real-time priority, a track does,
    // unless CAP_SYS_NICE is granted.
    auto withoutRealtime = [](const std::string& caps) {
        return [caps](ToolRun& r) {
            r.prefix = asNobody(caps);
            r.prefix.insert(r.prefix.begin(), {"prlimit", "--rtprio=0"});
            r.env = {{"HOSTAUDIO_TRACK_REALTIME", "0"}};
        };
    };
    const std::string shared = dir.path("shared"), noRt = shared + "/noRt.wav";
    mkdir(shared.c_str(), 0777);
    chmod(shared.c_str(), 0777);  // nobody writes here
    const std::string warning =
        "[AST][WRN]No permission for real-time priority, thread(ASTThread:ASTDecoder-ReaderThre) runs with normal "
        "scheduling; grant it with setcap cap_sys_nice+ep on the binary or an rtprio limit of 50 or more.\n";
    rows.push_back({"-f=" + in + " -v=" + noRt, 0, decoding(in, noRt, layout) + warning + end + counted, noRt, Holds::Exactly,
                    wav, withoutRealtime("-all")});
    rows.push_back(
        {"-f=" + in, 255,
         kNoSave + decoding(in, "", layout) +
             "[AST][ERR]Failed to start thread(ASTThread:ASTDecoder-ReaderThre).\n[AST][ERR]Failed to start pcm data reader thread.\n",
         "", Holds::Unchecked, Bytes(), withoutRealtime("-all")});
    rows.push_back({"-f=" + in, 0, kNoSave + decoding(in, "", layout) + end + counted, "", Holds::Unchecked, Bytes(),
                    withoutRealtime("+sys_nice")});

    // Slow outputs lose nothing: a FIFO whose reader pauses for 3 s, a track whose process is
    // stopped for 3 s. The .pcm input is read as WAV and written raw.
    const std::string slowIn = dir.path("slow.pcm"), slowOut = dir.path("slow.fifo"), slowRead = dir.path("slow.bin");
    writeFile(slowIn, stallWav);
    mkfifo(slowOut.c_str(), 0644);
    std::future<bool> slowReader = std::async(
        std::launch::async, shell, "{ dd bs=64k count=1 status=none; sleep 3; cat; } <" + slowOut + " >" + slowRead);
    const std::string slowLines = "[AST][INF]File suffix=pcm, codec=0.\n" +
                                  wavReaderLines("parseWavHeader", 48000, 2, 16, 44) + kThreadLines + end + counted;
    const Bytes slowPcm(stallWav.begin() + 44, stallWav.end());
    rows.push_back({"-f=" + slowIn + " -v=" + slowOut, 0, argsLines(slowIn, slowOut) + slowLines, slowRead,
                    Holds::Exactly, slowPcm});
    rows.push_back({"-f=" + slowIn, 0, kNoSave + argsLines(slowIn, "") + slowLines, dir.path("track.slow"),
                    Holds::Exactly, slowPcm, [&dir](ToolRun& r) {
                        r.env = {{"HOSTAUDIO_TRACK_FILE", dir.path("track.slow")}};
                        r.trigger = "Encode params";
                        r.signal = SIGSTOP;
                        r.signalDelayMs = 300;
                        r.resumeAfterMs = 3000;
                    }});
#if !defined(OSTREL_SANITIZED_ADDRESS) && !defined(OSTREL_SANITIZED_THREAD)
    // A thread that cannot be created (a process limit, a pids cgroup): the decoder's worker is the
    // first, the reader thread the second.
    auto failThread = [](int n) {
        return [n](ToolRun& r) {
            r.env = {{"LD_PRELOAD", OSTREL_FAIL_THREAD_SHIM}, {"OSTREL_FAIL_THREAD", std::to_string(n)}};
        };
    };
    const std::string noDecoder = argsLines(in, out) + "[AST][INF]File suffix=wav, codec=0.\n" +
                                  wavReaderLines("parseWavHeader", 48000, 2, 16, 44) +
                                  "[AST][ERR]Failed to create audio decoder(decoder0).\n";
    const std::string noWorker =
        "hostaudio: cannot start the decoder's worker thread: Resource temporarily unavailable\n";
    rows.push_back({"-f=" + in + " -v=" + out, 255, noDecoder, out, Holds::Nothing, {}, failThread(1), noWorker});
    rows.push_back({"-f=" + in + " -v=" + out,
                    255,
                    decoding(in, out, layout) + "[AST][ERR]Failed to start thread(ASTThread:ASTDecoder-ReaderThre).\n"
                                                "[AST][ERR]Failed to start pcm data reader thread.\n",
                    out,
                    Holds::Nothing,
                    {},
                    failThread(2)});
#endif

    std::vector<ToolRun> runs;
    for (const Row& row : rows) {
        runs.emplace_back(words(row.args));
        runs.back().timeoutSeconds = 60;  // a hang, not a slow run
        if (row.setup) row.setup(runs.back());
    }
    const std::vector<ToolResult> results = runTools(runs);
    for (int fd : stallFds) close(fd);
    close(open(slowOut.c_str(), O_WRONLY | O_NONBLOCK));  // frees the FIFO's reader if the tool never opened it
    slowReader.get();
    for (size_t i = 0; i < rows.size(); ++i) {
        const Row& row = rows[i];
        if (!runs[i].prefix.empty() && (geteuid() != 0 || access("/usr/bin/setpriv", X_OK) != 0)) continue;
        SCOPED_TRACE(row.args);
        EXPECT_EQ(row.status, results[i].exitCode);
        static const std::regex counts("Handed \\d+ units to the decoder, wrote \\d+ PCM");
        EXPECT_EQ(row.lines, std::regex_replace(foldStack(mainThreadLines(results[i].out)), counts,
                                                "Handed N units to the decoder, wrote M PCM"));
        static const std::regex dropped(
            "hostaudio: the thread reading the decoder has ended: [0-9]+ bytes of decoded audio dropped\n");
        EXPECT_EQ(row.err, std::regex_replace(results[i].err, dropped, ""));
        std::vector<uint8_t> written = readFile(row.output);
        if (row.holds == Holds::Nothing) {
            EXPECT_NE(0, access(row.output.c_str(), F_OK));
        } else if (row.holds == Holds::Exactly) {
            EXPECT_TRUE(row.bytes == written) << written.size() << " bytes";
        } else if (row.holds == Holds::CompletedWav) {
            // Its header counts the PCM that reached it, a start of the input's; an input of
            // unknown length gives the header room for RF64.
            ASSERT_GT(written.size(), 80u);
            ASSERT_LE(written.size(), row.bytes.size() + 36);
            std::vector<uint8_t> pcm(row.bytes.begin() + 44, row.bytes.begin() + long(written.size()) - 36);
            EXPECT_TRUE(withRoom(wavFile(layout, pcm)) == written) << written.size() << " bytes";
        }
    }
}

}  // namespace
