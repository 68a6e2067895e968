// One file of each kind the decode tests take from real encoders, made the same way: the damaged
// file sweep and the comparison tests start from them.
#pragma once

#include "ApeFile.h"
#include "DecodeCheck.h"

namespace blackbox {

struct Fixture {
    std::string label, suffix;
    std::function<bool(const std::string&)> make;  // writes the file at the path
    // ostrel-compare's verdict on ostrel's decode; none: it decodes to nothing.
    std::string verdict = "";
    std::string compareOptions = "";  // ostrel writes 24-bit samples in 32-bit words
};

inline std::vector<Fixture> fixtures() {
    auto enc = [](int channels, uint32_t rate, std::string options) {
        return [=](const std::string& p) { return encodeTones(p, channels, rate, options); };
    };
    auto sh = [](std::string command) { return [=](const std::string& p) { return made(command, p); }; };
    auto wav = [](const testsupport::WavLayout& l) {
        return [=](const std::string& p) {
            const Bytes pcm = testsupport::sinePcm(l.rate, l.channels, l.bitsPerSample, l.rate / 2);
            writeFile(p, testsupport::wavFile(l, pcm));
            return true;
        };
    };
    const std::string lame = "-c:a libmp3lame ";
    // Lossless and PCM inputs require exact, lossy ones full; the host service rounds FFmpeg's
    // decode as the reference does, so lossy decodes are exact too.
    const std::string exact = "PASS: exact required, exact reached", lossy = "PASS: full required, exact reached";
    return {
        {"wav 44.1k stereo", "wav", wav({44100, 2, 16, 0, false}), exact},
        {"wav 8k mono 8-bit, extra format bytes, LIST chunk", "wav", wav({8000, 1, 8, 2, true}), exact},
        {"mp3 cbr, ID3v2.3 and ID3v1", "mp3",
         enc(2, 44100, lame + "-b:a 128k -id3v2_version 3 -metadata title=Sine -write_id3v1 1"), lossy},
        {"mp3 mpeg2 vbr mono", "mp3", enc(1, 22050, lame + "-q:a 5"), lossy},
        {"mp2 layer II", "mp3", enc(1, 22050, "-c:a mp2 -b:a 64k -f mp2"), lossy},
        {"aac adts stereo", "aac", enc(2, 44100, "-c:a aac -b:a 96k -f adts"), lossy},
        {"aac latm mono", "aac", enc(1, 32000, "-c:a aac -b:a 48k -f latm"), lossy},
        {"ac3 5.1", "ac3", enc(6, 44100, "-c:a ac3 -b:a 448k"), lossy},
        {"eac3 stereo", "ec3", enc(2, 48000, "-c:a eac3 -b:a 96k -f eac3"), lossy},
        {"flac 16 stereo, flac tool", "flac", sh("$S1 -ac 2 $W && flac -s -f -o $O $W"), exact},
        {"flac 24 mono, ffmpeg", "flac", enc(1, 96000, "-c:a flac -sample_fmt s32"), exact, "--decoded-bits=32"},
        {"ogg vorbis stereo", "ogg", enc(2, 44100, "-c:a libvorbis"), lossy},
        {"ogg opus mono", "ogg", enc(1, 48000, "-c:a libopus -b:a 48k"), lossy},
        {"ogg flac", "ogg", enc(2, 44100, "-c:a flac -sample_fmt s16"), exact},
        {"ape jmac c2 stereo", "ape", sh("$S1 -ac 2 $W && jmac c2000 $W $O >/dev/null 2>&1"), exact},
        {"ape old layout", "ape",
         [](const std::string& p) {
             testsupport::ApeLayout l;
             l.version = 3970;
             l.flags = 0x14;
             writeFile(p, testsupport::buildApe(l).bytes);
             return true;
         }},
        {"alac 16 stereo, moov last", "m4a", enc(2, 44100, "-c:a alac -sample_fmt s16p"), exact},
        {"alac 24 mono, moov first", "m4a", enc(1, 48000, "-c:a alac -sample_fmt s32p -movflags +faststart"), exact,
         "--decoded-bits=32"},
        {"aac in mp4, moov first", "m4a", enc(2, 44100, "-c:a aac -b:a 96k -movflags +faststart"), lossy},
        {"wma v2 stereo", "wma", enc(2, 44100, "-c:a wmav2 -b:a 128k -f asf"), lossy},
        // ffmpeg announces one chunk more than it writes.
        {"realmedia, chunk count corrected", "ra",
         sh("$S1.2:sample_rate=8000 -c:a real_144 -f rm $O && printf '\\004' | dd of=$O bs=1 seek=17 conv=notrunc "
            "status=none")},
    };
}

}  // namespace blackbox
