// ostrel-compare's side of a decoder's output: the input as the decoded file (WAV or raw 16-bit
// stereo) against a fixed 8 kHz reference, through alignment, measures, verdict and report.
#include <cmath>

#include "DecodedFile.h"
#include "FuzzSupport.h"
#include "Report.h"

using namespace compare;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const Signal reference = [] {
        Signal s;
        s.rate = 8000, s.channels = 2, s.bits = 16;
        for (int i = 0; i < 1200; ++i)
            for (int c = 0; c < 2; ++c) s.samples.push_back(int32_t(12000 * std::sin(0.0004 * (c + 1) * i * i)));
        return s;
    }();
    DecodedFile file;
    std::string error;
    if (!readDecodedFile(fuzzsupport::asFile(data, size), file, error)) return 0;
    Result r;
    r.ref = reference;
    SampleCoding coding{16, true, false};
    if (file.wav && (file.rate != 8000 || file.channels != 2 || file.coding.bits != 16)) return 0;
    if (!decodedSamples(file, 8000, 2, file.wav ? file.coding : coding, r.dec, error)) return 0;
    r.findings = file.findings;
    r.alignment = align(r.ref, r.dec);
    r.measures = measure(r.ref, r.dec, r.alignment);
    const std::string text = textReport(r);
    writeReport("/dev/null", r, text, error);
    return 0;
}
