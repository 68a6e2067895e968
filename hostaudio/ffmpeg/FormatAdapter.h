// The per-format half of the FFmpeg backend: how the units of one platform format code
// become codec packets and codec configuration. The shared half (FfmpegBackend) decodes,
// converts and queues the PCM.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
}

#include "AudioCodecParameter.h"

namespace hostaudio {

// What a codec needs to start, as an adapter learns it from the record or the first units.
struct CodecSetup {
    AVCodecID codecId = AV_CODEC_ID_NONE;
    const char* decoderName = nullptr;  // a decoder of codecId preferred to libavcodec's default
    int sampleRate = 0;
    int channels = 0;  // 0 when the codec finds it in the stream
    std::vector<uint8_t> extradata;
    int blockAlign = 0;
    int64_t bitRate = 0;
    int bitsPerCodedSample = 0;
    // Decoded sample frames dropped at the start (Opus pre-skip, for instance).
    int64_t skipSamples = 0;
};

// Where an adapter sends what it made of a unit.
class PacketOutput {
public:
    // Starts (or restarts, with another setup) the codec; needed before the first packet.
    virtual bool open(const CodecSetup& setup) = 0;
    virtual bool isOpen() const = 0;
    // One codec packet; decoded PCM goes on to the service's queue. False when the codec
    // rejected it (the caller reports the unit). A codec decoding on threads of its own may
    // find the packet bad only later: `failure` is then reported against the unit.
    virtual bool packet(const uint8_t* data, size_t length, const std::string& failure) = 0;

protected:
    ~PacketOutput() = default;
};

class FormatAdapter {
public:
    virtual ~FormatAdapter() = default;

    // The decoder's input record. False refuses the format when the decoder is created.
    virtual bool configure(const audio::audio_codec_parameter_t& input) = 0;

    // One unit exactly as the tool framed it. The adapter checks the fields the tool adds
    // (sync words, sizes, flags, prefixes); for a violation, or a unit it cannot place or
    // decode, it returns false and says why in one line in `problem`.
    virtual bool unpack(const uint8_t* data, size_t length, PacketOutput& out, std::string& problem) = 0;

    // End of stream: hands over whatever the adapter still holds.
    virtual void finish(PacketOutput& out) { (void)out; }
};

// One factory per platform format code; each lives in its own file.
std::unique_ptr<FormatAdapter> makeMpegAdapter();  // 512
std::unique_ptr<FormatAdapter> makeAacAdapter();   // 768
std::unique_ptr<FormatAdapter> makeApeAdapter();   // 2560
std::unique_ptr<FormatAdapter> makeWmaAdapter();   // 2048
std::unique_ptr<FormatAdapter> makeAc3Adapter();   // 1536
std::unique_ptr<FormatAdapter> makeFlacAdapter();  // 2816
std::unique_ptr<FormatAdapter> makeOggAdapter();   // 2304
std::unique_ptr<FormatAdapter> makeAlacAdapter();  // 3072

}  // namespace hostaudio
