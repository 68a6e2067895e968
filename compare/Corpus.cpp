#include "Corpus.h"

#include <algorithm>
#include <atomic>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "DecodedFile.h"
#include "Svg.h"

extern char** environ;

namespace compare {
namespace {

using Entry = CorpusEntry;

const char* const kStatus[] = {"PASS", "FAIL", "ERROR"};

std::string directoryOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
}

std::string baseName(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string tsvPath(const std::string& html) {
    const size_t dot = html.rfind('.');
    return (dot != std::string::npos && dot > html.rfind('/') ? html.substr(0, dot) : html) + ".tsv";
}

std::vector<std::string> split(const std::string& line, char separator) {
    std::vector<std::string> fields;
    size_t at = 0;
    while (at <= line.size()) {
        const size_t end = std::min(line.find(separator, at), line.size());
        if (end > at) fields.push_back(line.substr(at, end - at));
        at = end + 1;
    }
    return fields;
}

// Runs `argv` with its standard output (and error, when `err` >= 0) going to files; its exit status.
int spawn(const std::vector<std::string>& args, int out, int err) {
    std::vector<char*> argv;
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out, 1);
    if (err >= 0) posix_spawn_file_actions_adddup2(&actions, err, 2);
    pid_t pid = 0;
    const int rc = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    int status = 0;
    if (rc != 0 || waitpid(pid, &status, 0) != pid) return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
}

// The file's text; false when it cannot be read or is longer than `limit`.
bool readText(const std::string& path, std::string& text, size_t limit = size_t(64) << 20) {
    FILE* f = fopen(path.c_str(), "rb");
    if (f == nullptr) return false;
    char buffer[65536];
    size_t got;
    while ((got = fread(buffer, 1, sizeof buffer, f)) > 0 && text.size() <= limit) text.append(buffer, got);
    fclose(f);
    return text.size() <= limit;
}

std::string lineAfter(const std::string& text, const std::string& key) {
    const size_t at = text.find("\n" + key);
    if (at == std::string::npos) return "";
    const size_t from = text.find_first_not_of(' ', at + 1 + key.size());
    return text.substr(from, text.find('\n', from) - from);
}

void compareEntry(const Options& o, const std::string& self, const std::string& dir, Entry& e) {
    const std::string stem = dir + "/" + std::to_string(e.index) + "-" + baseName(e.input);
    std::string decoded = e.decoded;
    if (!notRegular(decoded).empty() && decoded.find(' ') != std::string::npos) {
        // A command: it writes where {out} says, or else to its standard output.
        const std::string made = stem + ".decoded";
        const size_t at = decoded.find("{out}");
        const std::string command = at == std::string::npos ? decoded : decoded.replace(at, 5, made);
        const int fd = open(made.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int rc = fd < 0 ? -1 : spawn({"/bin/sh", "-c", command}, at == std::string::npos ? fd : 2, -1);
        if (fd >= 0) close(fd);
        if (rc != 0) {
            e.message = "the command ended with status " + std::to_string(rc);
            return;
        }
        decoded = made;
    }
    std::vector<std::string> args = {self, "--input=" + e.input, "--decoded=" + decoded, "--report=" + stem + ".html"};
    if (!e.reference.empty()) args.push_back("--reference=" + e.reference);
    if (o.requireGiven)
        args.push_back("--require=" +
                       (o.require.accuracy == Accuracy::Bits ? std::to_string(o.require.k) : describe(o.require)));
    if (o.rate) args.push_back("--rate=" + std::to_string(o.rate));
    if (o.channels) args.push_back("--channels=" + std::to_string(o.channels));
    if (o.inputBitsCode) args.push_back("--input-bits=" + std::to_string(o.inputBitsCode));
    if (o.decodedBitsCode) args.push_back("--decoded-bits=" + std::to_string(o.decodedBitsCode));
    args.insert(args.end(), e.options.begin(), e.options.end());
    const std::string log = stem + ".txt";
    const int fd = open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int rc = fd < 0 ? -1 : spawn(args, fd, fd);
    if (fd >= 0) close(fd);
    std::string text = "\n";
    readText(log, text);
    e.status = rc == 0 || rc == 1 ? rc : 2;
    if (e.status == 2) {
        const size_t at = text.find("ostrel-compare: ");
        e.message = at == std::string::npos ? "ended with status " + std::to_string(rc)
                                            : text.substr(at + 16, text.find('\n', at) - at - 16);
        return;
    }
    e.message = lineAfter(text, "verdict ");
    const size_t reached = e.message.find(" reached");
    const size_t from = e.message.rfind(", ", reached);
    if (reached != std::string::npos && from != std::string::npos)
        e.reached = e.message.substr(from + 2, reached - from - 2);
    const std::string margin = lineAfter(text, "margin ");
    e.margin = margin.empty() || margin[0] == 'n' ? "-" : margin.substr(0, margin.find(' '));
    e.report = baseName(stem) + ".html";
}

std::string tsvField(const std::string& text) {
    std::string out = text;
    std::replace(out.begin(), out.end(), '\t', ' ');
    std::replace(out.begin(), out.end(), '\n', ' ');
    return out.empty() ? "-" : out;
}

// The summary: the page, the TSV beside it, a line per file on standard output; the exit status.
int summarize(const std::string& html, std::vector<Entry>& entries) {
    std::sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) { return a.index < b.index; });
    int counts[3] = {0, 0, 0};
    std::string tsv = "index\tinput\tdecoded\treference\tverdict\treached\tmargin_db\treport\tmessage\n", rows;
    for (const Entry& e : entries) {
        ++counts[e.status];
        tsv += std::to_string(e.index) + "\t" + tsvField(e.input) + "\t" + tsvField(e.decoded) + "\t" +
               tsvField(e.reference) + "\t" + kStatus[e.status] + "\t" + e.reached + "\t" + e.margin + "\t" +
               tsvField(e.report) + "\t" + tsvField(e.message) + "\n";
        printf("%-5s %s: %s\n", kStatus[e.status], e.input.c_str(), e.message.c_str());
        rows += std::string("<tr class=\"") + (e.status == 0 ? "pass" : "fail") + "\"><td>" + std::to_string(e.index) +
                "</td><td>" + escapeHtml(e.input) + "</td><td>" + kStatus[e.status] + "</td><td>" +
                escapeHtml(e.reached) + "</td><td>" + escapeHtml(e.margin) + "</td><td>" +
                (e.report.empty() ? "-" : "<a href=\"" + escapeHtml(e.report) + "\">report</a>") + "</td><td>" +
                escapeHtml(e.message) + "</td></tr>\n";
    }
    const std::string total = std::to_string(entries.size()) + " files: " + std::to_string(counts[0]) + " pass, " +
                              std::to_string(counts[1]) + " fail, " + std::to_string(counts[2]) +
                              " could not be compared";
    printf("corpus   %s\n", total.c_str());
    const std::string page =
        "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n<title>ostrel-compare: corpus</title>\n"
        "<style>body{font-family:sans-serif;margin:24px;color:#222}table{border-collapse:collapse}"
        "td,th{padding:3px 10px;text-align:left;border-bottom:1px solid #ddd}.pass td:nth-child(3){color:#145214}"
        ".fail td:nth-child(3){color:#7a1010;font-weight:bold}</style>\n</head>\n<body>\n<h1>ostrel-compare: corpus</h1>\n"
        "<p id=\"total\">" +
        total +
        "</p>\n<table id=\"files\">\n<tr><th>#</th><th>input</th><th>verdict</th>"
        "<th>reached</th><th>margin (dB)</th><th>report</th><th>verdict line or error</th></tr>\n" +
        rows + "</table>\n</body>\n</html>\n";
    for (const auto& file :
         {std::make_pair(html, &page), std::make_pair(tsvPath(html), static_cast<const std::string*>(&tsv))}) {
        FILE* out = fopen(file.first.c_str(), "wb");
        bool written =
            out != nullptr && fwrite(file.second->data(), 1, file.second->size(), out) == file.second->size();
        if (out != nullptr && fclose(out) != 0) written = false;
        if (!written) {
            fprintf(stderr, "ostrel-compare: cannot write %s\n", file.first.c_str());
            return 2;
        }
    }
    return counts[2] > 0 ? 2 : counts[1] > 0 ? 1 : 0;
}

}  // namespace

bool parseCorpusLine(const std::string& line, CorpusEntry& e) {
    std::vector<std::string> fields;
    for (const std::string& f : split(line, line.find('\t') != std::string::npos ? '\t' : ' '))
        (f.compare(0, 2, "--") == 0 ? e.options : fields).push_back(f);
    if (fields.size() < 2 || fields.size() > 3) return false;
    e.input = fields[0], e.decoded = fields[1];
    if (fields.size() == 3) e.reference = fields[2];
    return true;
}

bool parseSummaryRow(const std::string& row, CorpusEntry& e) {
    const std::vector<std::string> f = split(row, '\t');
    const long status = f.size() == 9 ? std::find(kStatus, kStatus + 3, f[4]) - kStatus : 3;
    char* end = nullptr;
    e.index = status == 3 ? 0 : strtol(f[0].c_str(), &end, 10);
    if (e.index < 1 || *end != '\0') return false;
    e.input = f[1], e.decoded = f[2], e.reference = f[3] == "-" ? "" : f[3];
    e.status = int(status);
    e.reached = f[5], e.margin = f[6], e.message = f[8];
    e.report = f[7] == "-" ? "" : f[7];
    return true;
}

int runCorpus(const Options& o, const char* self) {
    const std::string problem = notRegular(o.corpus);
    if (!problem.empty()) {
        fprintf(stderr, "ostrel-compare: %s\n", problem.c_str());
        return 2;
    }
    char exe[PATH_MAX] = {};
    const ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
    const std::string program = n > 0 ? std::string(exe, size_t(n)) : self;
    const std::string dir = directoryOf(o.report);
    std::string list;
    if (!readText(o.corpus, list)) {
        fprintf(stderr, "ostrel-compare: cannot read %s, or it is longer than 64 MB\n", o.corpus.c_str());
        return 2;
    }
    std::vector<Entry> entries;
    long index = 0;
    for (const std::string& line : split(list, '\n')) {
        if (line.find_first_not_of(" \t\r") == std::string::npos || line[0] == '#') continue;
        Entry e;
        e.index = ++index;
        if ((e.index - 1) % o.shardCount != o.shardIndex - 1) continue;
        if (!parseCorpusLine(line.back() == '\r' ? line.substr(0, line.size() - 1) : line, e)) {
            e.input = line;
            e.message = "the line does not hold an input, a decoded file or command, and an optional reference";
        }
        entries.push_back(e);
    }
    std::atomic<size_t> next{0};
    const unsigned jobs = o.jobs > 0 ? unsigned(o.jobs) : std::max(1u, std::thread::hardware_concurrency());
    std::vector<std::thread> workers;
    for (unsigned w = 0; w < std::min<size_t>(jobs, entries.size()); ++w)
        workers.emplace_back([&] {
            for (size_t i; (i = next++) < entries.size();)
                if (entries[i].message.empty()) compareEntry(o, program, dir, entries[i]);
        });
    for (std::thread& t : workers) t.join();
    return summarize(o.report, entries);
}

int mergeCorpus(const Options& o) {
    std::vector<Entry> entries;
    char here[PATH_MAX] = {};
    const std::string target = realpath(directoryOf(o.report).c_str(), here) ? here : "";
    for (const std::string& path : o.files) {
        const std::string problem = notRegular(path);
        if (!problem.empty()) {
            fprintf(stderr, "ostrel-compare: %s\n", problem.c_str());
            return 2;
        }
        char there[PATH_MAX] = {};
        const std::string source = realpath(directoryOf(path).c_str(), there) ? there : directoryOf(path);
        std::string text;
        if (!readText(path, text)) {
            fprintf(stderr, "ostrel-compare: cannot read %s, or it is longer than 64 MB\n", path.c_str());
            return 2;
        }
        const std::vector<std::string> lines = split(text, '\n');
        for (size_t i = 0; i < lines.size(); ++i) {
            Entry e;
            if (i == 0 ? lines[0].compare(0, 6, "index\t") != 0 : !parseSummaryRow(lines[i], e)) {
                fprintf(stderr, "ostrel-compare: %s: line %zu is not a row of a corpus summary\n", path.c_str(), i + 1);
                return 2;
            }
            // The link still reaches the report where the slice left it.
            if (i > 0 && !e.report.empty() && source != target) e.report = source + "/" + e.report;
            if (i > 0) entries.push_back(e);
        }
    }
    return summarize(o.report, entries);
}

}  // namespace compare
