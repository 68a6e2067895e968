// Early stops and a reader thread that may not run.
#include <gtest/gtest.h>

#include <csignal>

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

TEST(Signals, WithoutRealtimePrivilegeTheReaderThreadDoesNotStart) {
    if (access("/usr/bin/setpriv", X_OK) != 0) GTEST_SKIP() << "setpriv is not installed";
    TempDir dir;
    std::string in = dir.path("in.wav"), out = dir.path("out.wav");
    testsupport::writeFile(in, testsupport::wavFile(WavLayout(), testsupport::sinePcm(44100, 2, 16, 4410)));
    ToolRun run{{"-f=" + in, "-v=" + out}};
    run.prefix = {"prlimit", "--rtprio=0", "setpriv", "--inh-caps=-sys_nice", "--bounding-set=-sys_nice", "--"};
    ToolResult r = runTool(run);
    EXPECT_EQ(255, r.exitCode);
    std::string tail = std::string(kThreadLines) + "[AST][ERR]Failed to start thread(ASTThread:ASTDecoder-ReaderThre).\n"
                       "[AST][ERR]Failed to start pcm data reader thread.\n";
    ASSERT_GE(r.out.size(), tail.size());
    EXPECT_EQ(tail, r.out.substr(r.out.size() - tail.size()));
}

}  // namespace
