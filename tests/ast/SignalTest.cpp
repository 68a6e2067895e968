#include <gtest/gtest.h>

#include <fcntl.h>
#include <regex>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include "ASTSignal.h"
#include "TestSupport.h"

namespace {

struct ChildResult {
    int status;
    std::string out;
    std::string err;
};

// Runs body in a child with the handlers installed (after before); stdout and stderr go to files.
ChildResult inChild(void (*body)(), void (*before)() = nullptr) {
    testsupport::TempDir dir;
    std::string out = dir.path("out"), err = dir.path("err");
    pid_t pid = fork();
    if (pid == 0) {
        dup2(open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), STDOUT_FILENO);
        dup2(open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), STDERR_FILENO);
        if (before != nullptr) before();
        if (installSignalHandlers(onSignal) != 0) _exit(3);
        body();
        _exit(0);
    }
    ChildResult r{};
    waitpid(pid, &r.status, 0);
    std::vector<uint8_t> o = testsupport::readFile(out), e = testsupport::readFile(err);
    r.out.assign(o.begin(), o.end());
    r.err.assign(e.begin(), e.end());
    return r;
}

std::string reportPattern(int signum, const std::string& segv, const std::string& address = "[^\n]+") {
    std::string n = std::to_string(signum);
    return "\\[AST\\]\\[WRN\\]Signal " + n + " received\\.\nsignum = " + n + "\n" + segv +
           "info\\.si_errno = 0\ninfo\\.si_addr  = " + address + "\nStack trace:\n([^\n]+\n){1,20}End of stack trace\n";
}

// Unmapped but not null, so that the undefined-behaviour checker lets the store happen.
volatile int* volatile lowPointer = reinterpret_cast<int*>(0x100);

__attribute__((noinline)) int recurse(int depth) {
    volatile int pad = depth;
    if (depth == 0) {
        raise(SIGTERM);
        return 0;
    }
    return recurse(depth - 1) + pad;
}

TEST(Signals, SegmentationFaultsNameTheirCodeAndAddress) {
    const struct {
        void (*body)();
        const char* code;
        const char* address;
    } cases[] = {
        {[] { *lowPointer = 1; }, "1 \\(SEGV_MAPERR\\)", "0x100"},
        {[] { *static_cast<volatile int*>(mmap(nullptr, 4096, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0)) = 1; },
         "2 \\(SEGV_ACCERR\\)", "0x[0-9a-f]+"},
    };
    for (const auto& c : cases) {
        ChildResult r = inChild(c.body);
        ASSERT_TRUE(WIFEXITED(r.status));
        EXPECT_EQ(255, WEXITSTATUS(r.status));
        const std::string segv = std::string("Segmentation Fault!\ninfo\\.si_code  = ") + c.code + "\n";
        EXPECT_TRUE(std::regex_match(r.out, std::regex(reportPattern(11, segv, c.address)))) << r.out;
    }
}

TEST(Signals, DeepStacksPrintTwentyFrames) {
    ChildResult r = inChild([] { recurse(60); });
    EXPECT_EQ(255, WEXITSTATUS(r.status));
    ASSERT_TRUE(std::regex_match(r.out, std::regex(reportPattern(SIGTERM, "")))) << r.out;
    size_t from = r.out.find("Stack trace:\n") + 13, to = r.out.find("End of stack trace\n");
    EXPECT_EQ(20, std::count(r.out.begin() + static_cast<long>(from), r.out.begin() + static_cast<long>(to), '\n'));
}

// SIGUSR1 only asks for a stop and returns, however often it comes; a failed assertion after it
// still reports and aborts.
TEST(Signals, Usr1ReturnsAndFailedAssertionReportsThenAborts) {
    ChildResult r = inChild([] {
        errno = EDOM;
        raise(SIGUSR1);
        raise(SIGUSR1);
        if (!stopRequested.load() || errno != EDOM) _exit(8);
        int ret = 5;
        AST_ASSERT(ret == 0, "createWriter", 322, "main", "int32_t ReaderThread::createWriter()");
    });
    EXPECT_EQ(255, WEXITSTATUS(r.status));
    const std::string usr1 = "[AST][INF]Signal SIGUSR1 received, progress is terminated manually.\n";
    EXPECT_EQ(0u,
              r.out.find(usr1 + usr1 +
                         "[AST][ERR]AST assert fail, [createWriter][322]\n[AST][WRN]Signal 6 received.\nsignum = 6\n"))
        << r.out;
    EXPECT_NE(std::string::npos,
              r.err.find("main:322: int32_t ReaderThread::createWriter(): Assertion `ret == 0' failed."));
}

int raised = 0;

// Timers, limits and the other user signal end the run as SIGTERM does; what the parent ignored
// (nohup, a background job) stays ignored.
TEST(Signals, MoreSignalsEndTheRunAndIgnoredOnesStayIgnored) {
    const struct {
        int signum;
        bool ignoredBefore;
    } cases[] = {{SIGXCPU, false}, {SIGALRM, false}, {SIGUSR2, false}, {SIGVTALRM, false}, {SIGPROF, false},
                 {SIGPWR, false},  {SIGHUP, true},   {SIGINT, true},   {SIGTERM, true},    {SIGUSR1, true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.signum);
        raised = c.signum;
        auto ignore = [] { signal(raised, SIG_IGN); };
        ChildResult r = inChild([] { raise(raised); }, c.ignoredBefore ? +ignore : nullptr);
        ASSERT_TRUE(WIFEXITED(r.status));
        EXPECT_EQ(c.ignoredBefore ? 0 : 255, WEXITSTATUS(r.status));
        if (c.ignoredBefore)
            EXPECT_EQ("", r.out);
        else
            EXPECT_TRUE(std::regex_match(r.out, std::regex(reportPattern(c.signum, "")))) << r.out;
    }
}

}  // namespace
