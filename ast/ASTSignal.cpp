#include "ASTSignal.h"

#include <cerrno>
#include <cstdio>
#include <execinfo.h>
#include <sys/syscall.h>
#include <unistd.h>

#include "ASTLog.h"
#include "ASTOutputGuard.h"

// The C library's assertion failure, declared here because release builds (NDEBUG) hide it
// while this check must stay on in every build.
extern "C" [[noreturn]] void __assert_fail(const char* assertion, const char* file, unsigned int line,
                                           const char* function) noexcept;

std::atomic<bool> stopRequested(false);

namespace {

struct InstalledSignal {
    int signum;
    const char* name;
    bool fault;  // raised by the program itself: handled even when the parent ignores it
};

// Besides the usual ones, every signal whose default action would end the process and leave the
// WAV header unwritten: a CPU-time limit, timers, the other user signal, a power failure.
const InstalledSignal kInstalledSignals[] = {
    {SIGUSR1, "SIGUSR1", false}, {SIGSEGV, "SIGSEGV", true},  {SIGTERM, "SIGTERM", false},
    {SIGINT, "SIGINT", false},   {SIGQUIT, "SIGQUIT", false}, {SIGABRT, "SIGABRT", true},
    {SIGBUS, "SIGBUS", true},    {SIGHUP, "SIGHUP", false},   {SIGXCPU, "SIGXCPU", false},
    {SIGALRM, "SIGALRM", false}, {SIGUSR2, "SIGUSR2", false}, {SIGVTALRM, "SIGVTALRM", false},
    {SIGPROF, "SIGPROF", false}, {SIGPWR, "SIGPWR", false},
};

// A file size limit must fail the write, not end the process, and a reader gone from standard
// output must not end the decode.
const InstalledSignal kIgnoredSignals[] = {{SIGXFSZ, "SIGXFSZ", false}, {SIGPIPE, "SIGPIPE", false}};

const char* const kSegvCodeNames[] = {"", "SEGV_MAPERR", "SEGV_ACCERR"};

// Only one thread writes a crash report; a fatal signal on another thread waits for its
// exit, and one raised inside the report itself ends the process at once.
std::atomic<pid_t> reporter(0);

// Log lines are already on fd 1. Ending every thread at once, without exit handlers, keeps a
// thread that holds a stdio or heap lock from blocking the end, and the other threads from
// printing after the report.
[[noreturn]] void endProcess() {
    syscall(SYS_exit_group, 255);
    _exit(255);
}

// Lets one thread end the process; any other waits for it, and a second fatal signal on the
// same thread ends it at once.
void claimTheEnd() {
    pid_t self = gettid();
    pid_t expected = 0;
    if (reporter.compare_exchange_strong(expected, self)) return;
    if (expected == self) endProcess();
    for (;;) pause();
}

}  // namespace

int32_t installSignalHandlers(ASTSignalHandler handler) {
    // backtrace loads its unwinder on first use, which allocates: do it now, not in a handler.
    void* frames[1];
    backtrace(frames, 1);

    struct sigaction action {};
    action.sa_sigaction = handler;
    sigemptyset(&action.sa_mask);
    // A stop request lets the run go on: the calls it interrupts carry on.
    action.sa_flags = SA_SIGINFO | SA_RESTART;
    for (const InstalledSignal& s : kInstalledSignals) {
        // A signal the parent ignores (nohup, a script's background job) stays ignored.
        struct sigaction current {};
        if (!s.fault && sigaction(s.signum, nullptr, &current) == 0 && current.sa_handler == SIG_IGN) continue;
        if (sigaction(s.signum, &action, nullptr) != 0) {
            perror(s.name);
            return -1;
        }
    }
    action.sa_handler = SIG_IGN;
    action.sa_flags = 0;
    for (const InstalledSignal& s : kIgnoredSignals) {
        if (sigaction(s.signum, &action, nullptr) != 0) {
            perror(s.name);
            return -1;
        }
    }
    return 0;
}

void onSignal(int signum, siginfo_t* info, void* context) {
    if (signum == SIGUSR1) {
        // The interrupted code may be about to read errno.
        const int savedErrno = errno;
        astLog("[AST][INF]Signal SIGUSR1 received, progress is terminated manually.\n");
        stopRequested.store(true);
        errno = savedErrno;
        return;
    }
    astLog("[AST][WRN]Signal %d received.\n", signum);
    // Whatever ends the run, the PCM already written stays a valid WAV.
    completeGuardedWav();
    if (signum != SIGHUP) crashReport(signum, info, context);
    // A hang-up is no crash: the line above is all it prints.
    claimTheEnd();
    endProcess();
}

void crashReport(int signum, siginfo_t* info, void* /*context*/) {
    claimTheEnd();
    astLog("signum = %d\n", signum);
    int code = info != nullptr ? info->si_code : 0;
    if (signum == SIGSEGV) {
        astLog("Segmentation Fault!\n");
        const char* codeName = (code >= 0 && code <= 2) ? kSegvCodeNames[code] : "UNKNOWN";
        astLog("info.si_code  = %d (%s)\n", code, codeName);
    }
    astLog("info.si_errno = %d\n", info != nullptr ? info->si_errno : 0);
    astLog("info.si_addr  = %p\n", info != nullptr ? info->si_addr : nullptr);
    astLog("Stack trace:\n");
    void* frames[20];
    int depth = backtrace(frames, 20);
    // The fd form prints the same lines without allocating, so a signal that interrupted
    // malloc cannot deadlock here.
    backtrace_symbols_fd(frames, depth, STDOUT_FILENO);
    astLog("End of stack trace\n");
    endProcess();
}

void astAssertFail(const char* shortName, int number, const char* condition, const char* file, const char* signature) {
    astLog("[AST][ERR]AST assert fail, [%s][%d]\n", shortName, number);
    __assert_fail(condition, file, static_cast<unsigned>(number), signature);
}
