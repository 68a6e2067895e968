#include "ToolRunner.h"

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <sstream>
#include <sys/resource.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include "TestSupport.h"

namespace blackbox {

const char kThreadLines[] = "[AST][INF]Create mutex(ASTMutex:ASTDecoder-ReaderThrea).\n"
                            "[AST][INF]Create thread(ASTThread:ASTDecoder-ReaderThre).\n";

std::vector<std::string> words(const std::string& line) {
    std::istringstream in(line);
    std::vector<std::string> all;
    for (std::string word; in >> word;) all.push_back(word);
    return all;
}

std::vector<std::string> asNobody(const std::string& caps) {
    static const bool reachable =
        shell("setpriv --reuid=nobody --regid=nogroup --clear-groups --inh-caps=-all test -x " OSTREL_BINARY);
    const std::string all = reachable ? caps : caps + ",+dac_read_search";
    return {
        "setpriv", "--reuid=nobody", "--regid=nogroup", "--clear-groups", "--inh-caps=" + all, "--ambient-caps=" + all,
        "--"};
}

ToolResult runTool(const ToolRun& run) {
    testsupport::TempDir dir;
    std::string outPath = dir.path("stdout"), errPath = dir.path("stderr");
    std::vector<std::string> command = run.prefix;
    // A cross-built tool runs under the emulator, whose words are joined by '|'.
    std::istringstream emulator(OSTREL_EMULATOR);
    for (std::string word; std::getline(emulator, word, '|');)
        if (!word.empty()) command.push_back(word);
    command.push_back(run.program.empty() ? OSTREL_BINARY : run.program);
    command.insert(command.end(), run.args.begin(), run.args.end());

    // Everything the child needs is built here: between fork and exec it may only make system
    // calls, since other test threads can hold the heap's locks.
    std::vector<std::string> env;
    for (char** e = environ; *e != nullptr; ++e) {
        std::string entry = *e;
        bool replaced = false;
        for (const auto& kv : run.env) replaced = replaced || entry.rfind(kv.first + "=", 0) == 0;
        if (!replaced) env.push_back(entry);
    }
    for (const auto& kv : run.env) env.push_back(kv.first + "=" + kv.second);
    std::vector<char*> argv, envp;
    for (std::string& w : command) argv.push_back(&w[0]);
    argv.push_back(nullptr);
    for (std::string& e : env) envp.push_back(&e[0]);
    envp.push_back(nullptr);

    int pipeEnds[2] = {-1, -1};
    if (run.stdoutTo == ToolRun::Stdout::BrokenPipe && pipe2(pipeEnds, O_CLOEXEC) == 0) close(pipeEnds[0]);
    auto started = std::chrono::steady_clock::now();
    pid_t pid = fork();
    if (pid == 0) {
        int out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        int in = open("/dev/null", O_RDONLY | O_CLOEXEC);
        dup2(run.stdoutTo == ToolRun::Stdout::BrokenPipe ? pipeEnds[1] : out, STDOUT_FILENO);
        dup2(err, STDERR_FILENO);
        dup2(in, STDIN_FILENO);
        if (run.stdoutTo == ToolRun::Stdout::Closed) {
            close(STDIN_FILENO);
            close(STDOUT_FILENO);
        }
        // A test run from a background job inherits SIGINT and SIGQUIT ignored, which the tool keeps.
        signal(SIGINT, SIG_DFL);
        signal(SIGQUIT, SIG_DFL);
        if (run.fileSizeLimit > 0) {
            const rlimit limit{rlim_t(run.fileSizeLimit), rlim_t(run.fileSizeLimit)};
            setrlimit(RLIMIT_FSIZE, &limit);
        }
        execvpe(argv[0], argv.data(), envp.data());  // looks the program up in our PATH
        _exit(127);
    }
    if (pipeEnds[1] >= 0) close(pipeEnds[1]);

    ToolResult result;
    int status = 0;
    double triggeredAt = -1, sentAt = -1;
    for (;;) {
        pid_t done = waitpid(pid, &status, WNOHANG);
        if (done == pid) break;
        double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
        if (elapsed > run.timeoutSeconds) {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            result.timedOut = true;
            break;
        }
        if (run.signal != 0 && triggeredAt < 0) {
            std::vector<uint8_t> sofar = testsupport::readFile(outPath);
            if (std::string(sofar.begin(), sofar.end()).find(run.trigger) != std::string::npos) triggeredAt = elapsed;
        }
        if (triggeredAt >= 0 && !result.signalSent && elapsed >= triggeredAt + run.signalDelayMs / 1000.0)
            if ((result.signalSent = kill(pid, run.signal) == 0)) sentAt = elapsed;
        if (run.resumeAfterMs > 0 && sentAt >= 0 && elapsed >= sentAt + run.resumeAfterMs / 1000.0 &&
            kill(pid, SIGCONT) == 0)
            sentAt = -1;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    if (WIFEXITED(status)) result.exitCode = WEXITSTATUS(status);
    if (WIFSIGNALED(status)) result.termSignal = WTERMSIG(status);
    std::vector<uint8_t> out = testsupport::readFile(outPath), err = testsupport::readFile(errPath);
    result.out.assign(out.begin(), out.end());
    result.err.assign(err.begin(), err.end());
    return result;
}

std::string changeLines(const std::string& out) {
    std::istringstream in(out);
    std::string result;
    for (std::string line; std::getline(in, line);)
        if (line.rfind(kChangeLine, 0) == 0) result += line + "\n";
    return result;
}

std::string mainThreadLines(const std::string& out) {
    std::istringstream in(out);
    std::string line, result, previous;
    while (std::getline(in, line)) {
        if (line == "[AST][WRN]Failed to read PCM data.") continue;
        if (line.rfind("[AST][INF]Encode params:", 0) == 0 || line.rfind(kChangeLine, 0) == 0) continue;
        bool waiting = line.rfind("[AST][INF]Decoder(", 0) == 0 && line.find(") is working still") != std::string::npos;
        if (waiting && line == previous) continue;
        result += line + "\n";
        previous = line;
    }
    return result;
}

std::string wavReaderLines(const char* title, uint32_t rate, uint32_t channelMap, uint32_t bitDepth,
                           int64_t headerLength) {
    return std::string("[AST][INF]") + title + ":\n[AST][INF]sampleFrequency=" + std::to_string(rate) +
           "\n[AST][INF]channelMap=" + std::to_string(channelMap) +
           "(1-Mono/2-Stereo)\n[AST][INF]pcm.bitDepth=" + std::to_string(bitDepth) +
           "(8-U8/9-S8/16-S16LE/17-S16BE/32-S32LE/33-S32BE)\n" +
           "[AST][INF]WAV header length:" + std::to_string(headerLength) + "\n";
}

std::string argsLines(const std::string& decodeFile, const std::string& saveFile, const std::string& progressName,
                      const std::string& name) {
    return "[AST][INF]Args:\nprogressName:" + progressName + "\nname=" + name + "\ndecodeFile=" + decodeFile +
           "\nsaveFile=" + saveFile + "\n";
}

std::string helpText() {
    std::vector<uint8_t> bytes = testsupport::readFile(std::string(OSTREL_TEST_DATA) + "/help.txt");
    return std::string(bytes.begin(), bytes.end());
}

}  // namespace blackbox
