// ostrel-compare: holds a decoder's PCM against FFmpeg's decode of the same file, or a corpus of
// such pairs.
#include <cstdio>
#include <cstring>
#include <strings.h>
#include <sys/stat.h>

#include <cerrno>

#include "Corpus.h"
#include "DecodedFile.h"
#include "DecoderArgs.h"
#include "FormatTable.h"
#include "Report.h"
#include "Result.h"

using namespace compare;

namespace {

int fail(const std::string& message) {
    fprintf(stderr, "ostrel-compare: %s\n", message.c_str());
    return 2;
}

SampleCoding codingOfBits(int bits) {
    SampleCoding c;
    SampleCoding::fromCode(bits, c);
    return c;
}

// Same file by device and inode, or by name when it does not exist yet.
bool sameFile(const std::string& a, const std::string& b) {
    struct stat sa {
    }, sb{};
    if (stat(a.c_str(), &sa) != 0 || stat(b.c_str(), &sb) != 0) return a == b;
    return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

// The report path, checked before any work: it must not overwrite a file compared, and it must
// be writable. A file made only to check that is taken away again.
bool reportPathOk(const Options& o, std::string& error) {
    for (const std::string* other : {&o.input, &o.decoded, &o.reference})
        if (!other->empty() && sameFile(o.report, *other)) {
            error = "the report " + o.report + " would overwrite " + *other;
            return false;
        }
    struct stat st {};
    const bool existed = stat(o.report.c_str(), &st) == 0;
    if (existed && !S_ISREG(st.st_mode)) {
        error = "cannot write the report " + o.report + ": " + notRegular(o.report).substr(o.report.size() + 4);
        return false;
    }
    FILE* f = fopen(o.report.c_str(), "ab");
    if (f == nullptr) {
        error = "cannot write the report " + o.report + ": " + strerror(errno);
        return false;
    }
    fclose(f);
    if (!existed) remove(o.report.c_str());
    return true;
}

bool isWav(const std::string& path) {
    FILE* f = fopen(path.c_str(), "rb");
    char head[12] = {};
    const bool wav =
        f != nullptr && fread(head, 1, 12, f) == 12 && memcmp(head, "RIFF", 4) == 0 && memcmp(head + 8, "WAVE", 4) == 0;
    if (f != nullptr) fclose(f);
    return wav;
}

int run(const Options& o) {
    std::string error = notRegular(o.input);
    if (error.empty() && !o.reference.empty()) error = notRegular(o.reference);
    if (!error.empty()) return fail(error);
    const char* suffix = fileSuffix(o.input.c_str());
    if (suffix == nullptr || codecOfSuffix(suffix) < 0)
        return fail(o.input + ": ostrel does not decode files " +
                    (suffix ? "with the suffix ." + std::string(suffix) : "without a suffix"));
    if (!o.report.empty() && !reportPathOk(o, error)) return fail(error);

    Result r;
    r.inputPath = o.input;
    r.decodedPath = o.decoded;
    r.referencePath = o.reference;
    DecodedFile file;
    if (!readDecodedFile(o.decoded, file, error)) return fail(error);
    r.decodedWav = file.wav;
    SampleCoding given;
    if (o.decodedBitsCode != 0) SampleCoding::fromCode(o.decodedBitsCode, given);
    if (file.wav) {
        const char* what = o.rate && o.rate != file.rate                         ? "--rate"
                           : o.channels && o.channels != file.channels           ? "--channels"
                           : o.decodedBitsCode && given.bits != file.coding.bits ? "--decoded-bits"
                                                                                 : nullptr;
        if (what != nullptr)
            return fail(std::string(what) + " disagrees with the WAV header of " + o.decoded + " (" +
                        std::to_string(file.rate) + " Hz, " + std::to_string(file.channels) + " channels, " +
                        std::to_string(file.coding.bits) + " bits)");
    }

    // A headerless reference (a .pcm input, which ostrel passes through unchanged, or a raw
    // reference file) is read in the layout the command line or the decoded WAV header gives.
    const std::string refPath = o.reference.empty() ? o.input : o.reference;
    const bool headerless = o.reference.empty() ? strcasecmp(suffix, "pcm") == 0 : !isWav(o.reference);
    RawInput raw;
    if (headerless) {
        raw.rate = file.wav ? file.rate : o.rate;
        raw.channels = file.wav ? file.channels : o.channels;
        if (raw.rate == 0 || raw.channels == 0)
            return fail(refPath + " is raw PCM: its layout needs --rate and --channels (or a WAV output)");
        raw.coding = codingOfBits(o.inputBitsCode != 0 ? o.inputBitsCode : 16);
    }
    const int bits = file.wav ? file.coding.bits : o.decodedBitsCode ? given.bits : 0;
    if (!decodeReference(refPath, headerless ? &raw : nullptr, bits, r.ref, r.reference, error)) return fail(error);

    const int rate = file.wav ? file.rate : o.rate ? o.rate : r.ref.rate;
    const int channels = file.wav ? file.channels : o.channels ? o.channels : r.ref.channels;
    const SampleCoding coding = file.wav ? file.coding : o.decodedBitsCode ? given : codingOfBits(r.ref.bits);
    const std::string from = file.wav ? "its WAV header" : "the command line";
    if (rate != r.ref.rate)
        return fail("mismatched rates: " + o.decoded + " is " + std::to_string(rate) + " Hz by " + from + ", " +
                    refPath + " decodes at " + std::to_string(r.ref.rate) +
                    " Hz; resampled output cannot be compared sample by sample");
    if (channels != r.ref.channels)
        return fail("mismatched channels: " + o.decoded + " has " + std::to_string(channels) + " by " + from + ", " +
                    refPath + " decodes to " + std::to_string(r.ref.channels));
    if (!decodedSamples(file, rate, channels, coding, r.dec, error)) return fail(o.decoded + ": " + error);
    r.findings = file.findings;
    file.bytes.release();
    if (r.reference.partialBytes > 0)
        r.findings.push_back("the reference ends in " + std::to_string(r.reference.partialBytes) +
                             (r.reference.partialBytes == 1 ? " byte" : " bytes") + " short of a whole frame");

    if (r.reference.failedPackets > 0)
        r.notes.push_back("FFmpeg could not decode " + std::to_string(r.reference.failedPackets) +
                          " packets of the input; the reference goes on without them");
    if (r.reference.sourceBits > r.dec.bits)
        r.notes.push_back("the source has " + std::to_string(r.reference.sourceBits) +
                          "-bit samples, the decoded file " + std::to_string(r.dec.bits) +
                          ": the reference is rounded to " + std::to_string(r.dec.bits) + " bits");
    r.alignment = align(r.ref, r.dec);
    if (r.alignment.atLimit)
        r.notes.push_back("the best alignment lies at the edge of the search, " + std::to_string(r.alignment.searched) +
                          " samples either way");
    r.measures = measure(r.ref, r.dec, r.alignment);
    r.required = o.requireGiven ? o.require : Requirement{r.reference.lossless ? Accuracy::Exact : Accuracy::Full, 0};

    const std::string text = textReport(r);
    fputs(text.c_str(), stdout);
    fflush(stdout);
    if (!o.report.empty()) {
        const size_t at = text.rfind("verdict   ");
        if (!writeReport(o.report, r, text.substr(at + 10, text.size() - at - 11), error)) return fail(error);
    }
    return r.pass ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    std::string error;
    if (!parseOptions(argc, argv, options, error)) {
        fprintf(stderr, "ostrel-compare: %s\n%s", error.c_str(), kUsage);
        return 2;
    }
    if (options.help) {
        printf("%s\n%s", kUsage, kHelp);
        return 0;
    }
    if (options.merge) return mergeCorpus(options);
    if (!options.corpus.empty()) return runCorpus(options, argv[0]);
    return run(options);
}
