// Signal installation, the stop flag set by SIGUSR1, and the crash report of fatal signals.
#pragma once

#include <atomic>
#include <csignal>
#include <cstdint>

typedef void (*ASTSignalHandler)(int signum, siginfo_t* info, void* context);

// Set by SIGUSR1, read by the feed loop.
extern std::atomic<bool> stopRequested;
static_assert(std::atomic<bool>::is_always_lock_free, "the stop flag is set from a signal handler");

// Installs handler, with SA_RESTART, for SIGUSR1, SIGSEGV, SIGTERM, SIGINT, SIGQUIT, SIGABRT, SIGBUS,
// SIGHUP, SIGXCPU, SIGALRM, SIGUSR2, SIGVTALRM, SIGPROF and SIGPWR, except the asynchronous ones
// that the process started with ignored; ignores SIGXFSZ and SIGPIPE. 0 on success, -1 (after
// perror) at the first failure.
int32_t installSignalHandlers(ASTSignalHandler handler);

// The driver's handler: SIGUSR1 asks for a stop, leaving errno as it was. Every other signal
// completes the WAV output's header and ends the process with status 255, through the crash
// report except for SIGHUP.
void onSignal(int signum, siginfo_t* info, void* context);

// Prints the signal, its information and a stack trace of at most 20 frames, then ends the
// process with status 255. Safe to reach from any thread inside a signal handler.
[[noreturn]] void crashReport(int signum, siginfo_t* info, void* context);

// A check that must hold: prints the assert line with the function's short name and the
// number, then fails a standard assertion naming the condition, source file and signature.
[[noreturn]] void astAssertFail(const char* shortName, int number, const char* condition, const char* file,
                                const char* signature);

#define AST_ASSERT(cond, shortName, number, file, signature)                   \
    do {                                                                       \
        if (!(cond)) astAssertFail(shortName, number, #cond, file, signature); \
    } while (0)
