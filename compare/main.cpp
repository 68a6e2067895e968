// ostrel-compare: holds a decoder's PCM against FFmpeg's decode of the same file.
#include <cstdio>
#include <cstring>
#include <strings.h>
#include <sys/stat.h>

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

int run(const Options& o) {
    struct stat st {};
    if (stat(o.input.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
        return fail("cannot open " + o.input + ": no such file");
    const char* suffix = fileSuffix(o.input.c_str());
    if (suffix == nullptr || codecOfSuffix(suffix) < 0)
        return fail(o.input + ": ostrel does not decode files " +
                    (suffix ? "with the suffix ." + std::string(suffix) : "without a suffix"));

    Result r;
    r.inputPath = o.input;
    r.decodedPath = o.decoded;
    DecodedFile file;
    std::string error;
    if (!readDecodedFile(o.decoded, file, error)) return fail(error);
    r.decodedWav = file.wav;
    SampleCoding given;
    if (o.bitsCode != 0) SampleCoding::fromCode(o.bitsCode, given);
    if (file.wav) {
        const char* what = o.rate && o.rate != file.rate                  ? "--rate"
                           : o.channels && o.channels != file.channels    ? "--channels"
                           : o.bitsCode && given.bits != file.coding.bits ? "--bits"
                                                                          : nullptr;
        if (what != nullptr)
            return fail(std::string(what) + " disagrees with the WAV header of " + o.decoded + " (" +
                        std::to_string(file.rate) + " Hz, " + std::to_string(file.channels) + " channels, " +
                        std::to_string(file.coding.bits) + " bits)");
    }

    // A headerless input is what ostrel passes through unchanged: the decoded file's layout.
    RawInput raw;
    const bool headerless = strcasecmp(suffix, "pcm") == 0;
    if (headerless) {
        raw.rate = file.wav ? file.rate : o.rate ? o.rate : 48000;
        raw.channels = file.wav ? file.channels : o.channels ? o.channels : 2;
        raw.coding = file.wav ? file.coding : o.bitsCode ? given : codingOfBits(16);
    }
    const int bits = file.wav ? file.coding.bits : o.bitsCode ? given.bits : headerless ? raw.coding.bits : 0;
    if (!decodeReference(o.input, headerless ? &raw : nullptr, bits, r.ref, r.reference, error)) return fail(error);

    const int rate = file.wav ? file.rate : o.rate ? o.rate : r.ref.rate;
    const int channels = file.wav ? file.channels : o.channels ? o.channels : r.ref.channels;
    const SampleCoding coding = file.wav     ? file.coding
                                : o.bitsCode ? given
                                : headerless ? raw.coding
                                             : codingOfBits(r.ref.bits);
    const std::string from = file.wav ? "its WAV header" : "the command line";
    if (rate != r.ref.rate)
        return fail("mismatched rates: " + o.decoded + " is " + std::to_string(rate) + " Hz by " + from + ", " +
                    o.input + " decodes at " + std::to_string(r.ref.rate) +
                    " Hz; resampled output cannot be compared sample by sample");
    if (channels != r.ref.channels)
        return fail("mismatched channels: " + o.decoded + " has " + std::to_string(channels) + " by " + from + ", " +
                    o.input + " decodes to " + std::to_string(r.ref.channels));
    if (!decodedSamples(file, rate, channels, coding, r.dec, error)) return fail(o.decoded + ": " + error);
    r.findings = file.findings;
    std::vector<uint8_t>().swap(file.bytes);

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
    return run(options);
}
