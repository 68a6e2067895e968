// One file of each kind the decode tests take from real encoders, made the same way: the damaged
// file sweep and the comparison tests start from them.
#pragma once

#include "ApeFile.h"
#include "DecodeCheck.h"

namespace blackbox {

struct Fixture {
    std::string label, suffix;
    std::function<bool(const std::string&)> make;  // writes the file at the path
};

inline std::vector<Fixture> fixtures() {
    auto enc = [](int channels, uint32_t rate, std::string options) {
        return [=](const std::string& p) { return encodeTones(p, channels, rate, options); };
    };
    auto wav = [](const testsupport::WavLayout& l) {
        return [=](const std::string& p) {
            const Bytes pcm = testsupport::sinePcm(l.rate, l.channels, l.bitsPerSample, l.rate / 2);
            writeFile(p, testsupport::wavFile(l, pcm));
            return true;
        };
    };
    const std::string lame = "-c:a libmp3lame ";
    return {
        {"wav 44.1k stereo", "wav", wav({44100, 2, 16, 0, false})},
        {"wav 8k mono 8-bit, extra format bytes, LIST chunk", "wav", wav({8000, 1, 8, 2, true})},
        {"mp3 cbr, ID3v2.3 and ID3v1", "mp3",
         enc(2, 44100, lame + "-b:a 128k -id3v2_version 3 -metadata title=Sine -write_id3v1 1")},
        {"mp3 mpeg2 vbr mono", "mp3", enc(1, 22050, lame + "-q:a 5")},
        {"mp2 layer II", "mp3", enc(1, 22050, "-c:a mp2 -b:a 64k -f mp2")},
        {"aac adts stereo", "aac", enc(2, 44100, "-c:a aac -b:a 96k -f adts")},
        {"aac latm mono", "aac", enc(1, 32000, "-c:a aac -b:a 48k -f latm")},
        {"ac3 5.1", "ac3", enc(6, 44100, "-c:a ac3 -b:a 448k")},
        {"eac3 stereo", "ec3", enc(2, 48000, "-c:a eac3 -b:a 96k -f eac3")},
        {"flac 16 stereo, flac tool", "flac",
         [](const std::string& p) {
             return shell("ffmpeg -nostdin -y -f lavfi -i sine=duration=1 -ac 2 '" + p + ".wav' && flac -s -f -o '" +
                          p + "' '" + p + ".wav'");
         }},
        {"flac 24 mono, ffmpeg", "flac", enc(1, 96000, "-c:a flac -sample_fmt s32")},
        {"ogg vorbis stereo", "ogg", enc(2, 44100, "-c:a libvorbis")},
        {"ogg opus mono", "ogg", enc(1, 48000, "-c:a libopus -b:a 48k")},
        {"ogg flac", "ogg", enc(2, 44100, "-c:a flac -sample_fmt s16")},
        {"ape jmac c2 stereo", "ape",
         [](const std::string& p) {
             return shell("ffmpeg -nostdin -y -f lavfi -i sine=duration=1 -ac 2 '" + p + ".wav' && jmac c2000 '" + p +
                          ".wav' '" + p + "' >/dev/null 2>&1");
         }},
        {"ape old layout", "ape",
         [](const std::string& p) {
             testsupport::ApeLayout l;
             l.version = 3970;
             l.flags = 0x14;
             writeFile(p, testsupport::buildApe(l).bytes);
             return true;
         }},
        {"alac 16 stereo, moov last", "m4a", enc(2, 44100, "-c:a alac -sample_fmt s16p")},
        {"alac 24 mono, moov first", "m4a", enc(1, 48000, "-c:a alac -sample_fmt s32p -movflags +faststart")},
        {"aac in mp4, moov first", "m4a", enc(2, 44100, "-c:a aac -b:a 96k -movflags +faststart")},
        {"wma v2 stereo", "wma", enc(2, 44100, "-c:a wmav2 -b:a 128k -f asf")},
        {"realmedia, chunk count corrected", "ra",
         [](const std::string& p) {
             if (!encodeTones(p, 1, 8000, "-c:a real_144 -f rm")) return false;
             Bytes rm = readFile(p);
             rm[17] = 4;  // ffmpeg announces one chunk more than it writes
             writeFile(p, rm);
             return true;
         }},
    };
}

}  // namespace blackbox
