// Reference decodes by the ffmpeg command and the comparison of our PCM against them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace testsupport {

// Runs a shell command, quietly; true when it exited with 0. For making fixtures with real
// encoders (ffmpeg, flac, ...).
bool shell(const std::string& command);

// The PCM ffmpeg decodes from file, as "s16le" or "s32le", `input` options given before the file
// (a decoder, say). Empty when ffmpeg failed.
std::vector<uint8_t> ffmpegDecode(const std::string& file, const std::string& format, const std::string& input = "");

// The packets ffmpeg's demuxer finds in file: byte positions and sizes, in order. An
// independent account of where a file's frames are.
struct Packet {
    long position;
    long size;
};
std::vector<Packet> ffprobePackets(const std::string& file);

// The units a run handed to the decoder, from the host service's HOSTAUDIO_UNITS_FILE record.
std::vector<std::vector<uint8_t>> readUnits(const std::string& path);

struct PcmMatch {
    bool ok = false;
    long shiftFrames = 0;  // ours[i + shift] matches reference[i]
    size_t comparedFrames = 0;
    int maxDiff = 0;
    std::string detail;  // why it failed
};

// Aligns ours with the reference (codec delay at the start, padding at the end differ) by
// searching a shift of up to maxShiftFrames either way, then requires every overlapping
// sample to be within tolerance and the overlap to cover all of the reference but
// uncoveredFrames (audio ours may lack, such as a frame a reader does not deliver). Frames of
// ours outside the overlap are not limited here: comparedFrames tells how many there are.
PcmMatch comparePcm(const std::vector<uint8_t>& ours, const std::vector<uint8_t>& reference, int bytesPerSample,
                    int channels, long maxShiftFrames, int tolerance, long uncoveredFrames = 0);

}  // namespace testsupport
