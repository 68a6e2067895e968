// Frames each 10-minute file with our reader and with libavformat in the same run: throughput of
// both (CPU time, so that other work on the machine counts less), their ratio, and heap
// allocations per frame once past the first frames.
//
//   reader_bench --media=DIR [--summary=FILE] [Google Benchmark flags]
//
// Readers log to standard output, so it points at /dev/null while they run; the results go to
// standard error, and the Markdown summary also to FILE.
#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/log.h>
}

#include "AllocCount.h"
#include "AudioDataReader.h"
#include "FormatTable.h"

namespace {

struct Input {
    const char* label;
    const char* file;
    int32_t codec;
};

const Input kInputs[] = {
    {"WAV", "bench.wav", 0},      {"MP3", "bench.mp3", 48},          {"AAC-ADTS", "adts.aac", 16},
    {"AAC-LOAS", "loas.aac", 16}, {"AC-3", "bench.ac3", 80},         {"E-AC-3", "bench.ec3", 80},
    {"FLAC", "bench.flac", 96},   {"Ogg-Vorbis", "vorbis.ogg", 112}, {"Ogg-Opus", "opus.ogg", 112},
    {"APE", "bench.ape", 128},    {"ALAC", "bench.m4a", 160},        {"WMA", "bench.wma", 144},
};

// Allocations are counted from this frame on: buffers have reached their size by then.
const int64_t kSteadyFrom = 100;

// Points file descriptor 1 at /dev/null for its lifetime.
class QuietStdout {
public:
    QuietStdout() {
        fflush(stdout);
        saved_ = dup(STDOUT_FILENO);
        int null = open("/dev/null", O_WRONLY);
        if (null >= 0) {
            dup2(null, STDOUT_FILENO);
            close(null);
        }
    }
    ~QuietStdout() {
        if (saved_ < 0) return;
        dup2(saved_, STDOUT_FILENO);
        close(saved_);
    }
    QuietStdout(const QuietStdout&) = delete;
    QuietStdout& operator=(const QuietStdout&) = delete;

private:
    int saved_;
};

struct Tally {
    int64_t frames = 0;
    uint64_t steadyAllocations = 0;
    int64_t steadyFrames = 0;

    // One pass over the file: call frame() per frame, then end().
    int64_t inPass = 0;
    uint64_t mark = 0;

    void frame() {
        ++frames;
        if (++inPass == kSteadyFrom) mark = allocationCount();
    }
    void end() {
        if (inPass > kSteadyFrom) {
            steadyAllocations += allocationCount() - mark;
            steadyFrames += inPass - kSteadyFrom;
        }
        inPass = 0;
    }
    void report(benchmark::State& state, int64_t fileBytes) const {
        state.SetBytesProcessed(state.iterations() * fileBytes);
        state.counters["frames/s"] = benchmark::Counter(static_cast<double>(frames), benchmark::Counter::kIsRate);
        state.counters["frames"] = benchmark::Counter(static_cast<double>(frames), benchmark::Counter::kAvgIterations);
        state.counters["allocs/frame"] =
            steadyFrames > 0 ? static_cast<double>(steadyAllocations) / static_cast<double>(steadyFrames) : 0.0;
    }
};

void readOurs(benchmark::State& state, Input input, std::string path, int64_t fileBytes) {
    AudioInfo rawPcm{};
    rawPcm.sampleFrequency = 48000;
    rawPcm.channelMap = 2;
    rawPcm.pcm.bitDepth = 16;
    Tally tally;
    QuietStdout quiet;
    for (auto _ : state) {
        AudioDataReader* reader = createAudioDataReader(input.codec, path.c_str(), &rawPcm);
        if (reader == nullptr || reader->isInvalid()) {
            delete reader;
            state.SkipWithError("the reader refused the file");
            break;
        }
        for (;;) {
            FrameBuffer* frame = reader->readFrame();
            if (frame->length < 1 || frame->data == nullptr) break;
            benchmark::DoNotOptimize(frame->data[frame->length - 1]);
            tally.frame();
        }
        tally.end();
        delete reader;
    }
    tally.report(state, fileBytes);
}

void readLavf(benchmark::State& state, std::string path, int64_t fileBytes) {
    Tally tally;
    AVPacket* packet = av_packet_alloc();
    for (auto _ : state) {
        AVFormatContext* context = nullptr;
        if (packet == nullptr || avformat_open_input(&context, path.c_str(), nullptr, nullptr) < 0) {
            state.SkipWithError("libavformat refused the file");
            break;
        }
        while (av_read_frame(context, packet) >= 0) {
            benchmark::DoNotOptimize(packet->data);
            av_packet_unref(packet);
            tally.frame();
        }
        tally.end();
        avformat_close_input(&context);
    }
    av_packet_free(&packet);
    tally.report(state, fileBytes);
}

// The console output, plus a table that sets each of our readers against libavformat.
class SummaryReporter : public benchmark::ConsoleReporter {
public:
    explicit SummaryReporter(std::string summaryPath)
        : ConsoleReporter(isatty(STDERR_FILENO) ? OO_Defaults : OO_Tabular), summaryPath_(std::move(summaryPath)) {}

    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            if (run.run_type != Run::RT_Iteration || run.error_occurred) continue;
            const std::string name = run.run_name.function_name;  // "ours/MP3" or "lavf/MP3"
            const size_t slash = name.find('/');
            if (slash == std::string::npos) continue;
            Sample& s = samples_[name.substr(slash + 1)][name.substr(0, slash) == "ours" ? 0 : 1];
            s.bytesPerSecond.push_back(counter(run, "bytes_per_second"));
            s.framesPerSecond.push_back(counter(run, "frames/s"));
            s.allocationsPerFrame.push_back(counter(run, "allocs/frame"));
        }
    }

    void Finalize() override {
        ConsoleReporter::Finalize();
        std::ostringstream table;
        table << "| Reader | ours MB/s | libavformat MB/s | ratio (target ≥ 2) | ours frames/s | libavformat "
                 "frames/s | ours allocs/frame (target 0) | libavformat allocs/frame |\n"
              << "|---|---:|---:|---:|---:|---:|---:|---:|\n";
        for (const Input& input : kInputs) {
            auto found = samples_.find(input.label);
            if (found == samples_.end()) continue;
            const Sample& ours = found->second[0];
            const Sample& lavf = found->second[1];
            if (ours.bytesPerSecond.empty() || lavf.bytesPerSecond.empty()) continue;
            const double ratio = median(ours.bytesPerSecond) / median(lavf.bytesPerSecond);
            const double allocations = median(ours.allocationsPerFrame);
            char row[512];
            snprintf(row, sizeof(row), "| %s | %.0f | %.0f | %.2f%s | %.0f | %.0f | %.3g%s | %.3g |\n", input.label,
                     median(ours.bytesPerSecond) / 1e6, median(lavf.bytesPerSecond) / 1e6, ratio,
                     ratio >= 2.0 ? "" : " (missed)", median(ours.framesPerSecond), median(lavf.framesPerSecond),
                     allocations, allocations == 0.0 ? "" : " (missed)", median(lavf.allocationsPerFrame));
            table << row;
        }
        std::cerr << '\n' << table.str();
        if (!summaryPath_.empty()) std::ofstream(summaryPath_) << table.str();
    }

private:
    struct Sample {
        std::vector<double> bytesPerSecond;
        std::vector<double> framesPerSecond;
        std::vector<double> allocationsPerFrame;
    };

    static double counter(const Run& run, const char* name) {
        auto it = run.counters.find(name);
        return it == run.counters.end() ? 0.0 : static_cast<double>(it->second.value);
    }
    static double median(std::vector<double> values) {
        if (values.empty()) return 0.0;
        std::sort(values.begin(), values.end());
        return values[values.size() / 2];
    }

    std::string summaryPath_;
    std::map<std::string, Sample[2]> samples_;
};

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    std::string media;
    std::string summary;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg.rfind("--media=", 0) == 0) {
            media = arg.substr(8);
        } else if (arg.rfind("--summary=", 0) == 0) {
            summary = arg.substr(10);
        } else {
            std::cerr << "unknown argument: " << arg << "\nusage: " << argv[0]
                      << " --media=DIR [--summary=FILE] [benchmark flags]\n";
            return 2;
        }
    }
    if (media.empty()) {
        std::cerr << "usage: " << argv[0] << " --media=DIR [--summary=FILE] [benchmark flags]\n";
        return 2;
    }
    av_log_set_level(AV_LOG_QUIET);

    for (const Input& input : kInputs) {
        const std::string path = media + "/" + input.file;
        struct stat info {};
        if (stat(path.c_str(), &info) != 0 || info.st_size <= 0) {
            std::cerr << "skipped " << input.label << ": no " << path << '\n';
            continue;
        }
        const int64_t bytes = info.st_size;
        benchmark::RegisterBenchmark((std::string("ours/") + input.label).c_str(), readOurs, input, path, bytes)
            ->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark((std::string("lavf/") + input.label).c_str(), readLavf, path, bytes)
            ->Unit(benchmark::kMillisecond);
    }

    SummaryReporter reporter(summary);
    reporter.SetOutputStream(&std::cerr);
    reporter.SetErrorStream(&std::cerr);
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}
