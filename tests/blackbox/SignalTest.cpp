// Early stops and a reader thread without real-time privilege.
#include <gtest/gtest.h>

#include <csignal>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

#include "TestSupport.h"
#include "ToolRunner.h"

using namespace blackbox;
using testsupport::TempDir;
using testsupport::WavLayout;

namespace {

const char kUsr1Line[] = "[AST][INF]Signal SIGUSR1 received, progress is terminated manually.\n";

uint32_t le32(const std::vector<uint8_t>& b, size_t at) {
    return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<uint32_t>(b[at + 3]) << 24;
}

TEST(Signals, Usr1StopsARealtimeTrackRunWithinSeconds) {
    TempDir dir;
    // Two minutes of audio that would take two minutes to play.
    WavLayout l{8000, 1, 8, 0, false};
    std::string in = dir.path("long.wav");
    testsupport::writeFile(in, testsupport::wavFile(l, testsupport::sinePcm(8000, 1, 8, 8000 * 120)));
    ToolRun run{{"-f=" + in}};
    run.trigger = "Encode params";
    run.signal = SIGUSR1;
    ToolResult r = runTool(run);
    ASSERT_TRUE(r.signalSent);
    EXPECT_EQ(0, r.exitCode);
    EXPECT_LT(r.seconds, 15.0);
    size_t usr1 = r.out.find(kUsr1Line);
    ASSERT_NE(std::string::npos, usr1);
    std::string after = mainThreadLines(r.out.substr(usr1 + sizeof(kUsr1Line) - 1));
    EXPECT_EQ("[AST][WRN]Read audio data stopped.\n[AST][INF]Decoder(decoder0) is working still, waiting...\n", after);
}

TEST(Signals, Usr1DuringAFileRunStillCompletesTheWavHeader) {
    TempDir dir;
    WavLayout l{48000, 2, 16, 0, false};
    std::vector<uint8_t> pcm = testsupport::sinePcm(48000, 2, 16, 48000 * 120);
    std::string in = dir.path("long.wav"), out = dir.path("out.wav");
    testsupport::writeFile(in, testsupport::wavFile(l, pcm));
    ToolRun run{{"-f=" + in, "-v=" + out}};
    run.trigger = "Encode params";
    run.signal = SIGUSR1;
    ToolResult r = runTool(run);
    ASSERT_TRUE(r.signalSent);
    EXPECT_EQ(0, r.exitCode);
    EXPECT_NE(std::string::npos, r.out.find(kUsr1Line));

    std::vector<uint8_t> written = testsupport::readFile(out);
    ASSERT_GE(written.size(), 44u);
    EXPECT_EQ(written.size() - 8, le32(written, 4));
    EXPECT_EQ(written.size() - 44, le32(written, 40));
    ASSERT_LE(written.size() - 44, pcm.size());
    EXPECT_TRUE(std::equal(written.begin() + 44, written.end(), pcm.begin())) << "output is a prefix of the input";
}

// Runs as nobody with an rtprio limit of 0, without capabilities or with CAP_SYS_NICE as an
// ambient one, against the same run as root: a file decode needs no real-time priority, a track does.
TEST(Signals, ReaderThreadWithoutRealtimePrivilege) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root";
    TempDir dir;
    chmod(dir.root().c_str(), 0777);
    std::string in = dir.path("in.wav"), out = dir.path("out.wav");
    testsupport::writeFile(in, testsupport::wavFile(WavLayout(), testsupport::sinePcm(44100, 2, 16, 4410)));
    const std::string warning =
        "[AST][WRN]No permission for real-time priority, thread(ASTThread:ASTDecoder-ReaderThre) runs with normal "
        "scheduling; grant it with setcap cap_sys_nice+ep on the binary or an rtprio limit of 50 or more.\n";
    const std::string failed = "[AST][ERR]Failed to start thread(ASTThread:ASTDecoder-ReaderThre).\n"
                               "[AST][ERR]Failed to start pcm data reader thread.\n";
    struct Case {
        bool sysNice, toFile;
        int status;
        std::string lines;  // behind the thread's creation lines
    };
    const Case cases[] = {
        {false, true, 0, warning}, {false, false, 255, failed}, {true, true, 0, ""}, {true, false, 0, ""}};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.sysNice ? "CAP_SYS_NICE" : "no capabilities") +
                     (c.toFile ? ", to a file" : ", to the track"));
        ToolRun run{{"-f=" + in}, {{"HOSTAUDIO_TRACK_REALTIME", "0"}}};
        if (c.toFile) run.args.push_back("-v=" + out);
        ToolResult root = runTool(run);
        ASSERT_EQ(0, root.exitCode);
        std::vector<uint8_t> rootBytes = testsupport::readFile(out);
        ASSERT_EQ(c.toFile ? 44 + 4410 * 4u : 0u, rootBytes.size());
        unlink(out.c_str());
        const std::string caps = c.sysNice ? "+sys_nice" : "-all";
        run.prefix = asNobody(caps);
        run.prefix.insert(run.prefix.begin(), {"prlimit", "--rtprio=0"});
        ToolResult r = runTool(run);
        EXPECT_EQ(c.status, r.exitCode) << r.out << r.err;
        std::string expected = mainThreadLines(root.out);
        size_t cut = expected.find(kThreadLines) + strlen(kThreadLines);
        expected = expected.substr(0, cut) + c.lines + (c.status == 0 ? expected.substr(cut) : "");
        EXPECT_EQ(expected, mainThreadLines(r.out));
        EXPECT_EQ(rootBytes, testsupport::readFile(out));
        unlink(out.c_str());
    }
}

}  // namespace
