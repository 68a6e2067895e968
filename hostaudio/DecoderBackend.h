// What a codec has to provide to run inside the service's decoder. The decoder owns
// everything around it (queueing, threads, back-pressure, end of stream, recording),
// so a backend only turns units into PCM.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "AudioCodecParameter.h"

namespace hostaudio {

// Takes decoded PCM. May block until the consumer has made room.
class PcmSink {
public:
    virtual void append(const uint8_t* data, size_t length) = 0;

    // Audio decoded ahead of its turn counts against the same bound as appended audio: room
    // for `bytes` more of it, or false while that share is taken (the caller then waits for
    // its turn). The caller releases what it reserved before appending or dropping it.
    virtual bool reserve(size_t bytes) = 0;
    virtual void release(size_t bytes) = 0;

    // The decoded audio changes rate or channels from here on; what is appended stays in the
    // output's first layout, converted.
    virtual void sourceChanged(int32_t rate, int32_t channels) { (void)rate, (void)channels; }

protected:
    ~PcmSink() = default;
};

// One codec instance. Only one thread calls it at a time; it may decode on threads of its own,
// which then append to the sink one at a time and in order.
class DecoderBackend {
public:
    virtual ~DecoderBackend() = default;

    // Sets up for the input the record describes, dropping any earlier state; also how the
    // decoder restarts after a flush. False when this input cannot be decoded.
    virtual bool configure(const audio::audio_codec_parameter_t& input) = 0;

    // Decodes one unit, appending its PCM to the sink. False when the unit was rejected;
    // the stream goes on with the next one.
    virtual bool decode(const uint8_t* data, size_t length, PcmSink& sink) = 0;

    // No more input: appends whatever the codec still holds back.
    virtual void drain(PcmSink& sink) = 0;

    // Units that decode() took but whose packets failed later, on the backend's own threads;
    // a unit decode() already refused is not counted again.
    virtual uint64_t lateRejects() const { return 0; }

    // True once the stream cannot be decoded at all (e.g. more channels than a channel map
    // names); the backend has said why. configure() clears it.
    virtual bool refused() const { return false; }

    // The layout of the PCM it appends (codecType 256 and the pcm group). False while it is
    // not known yet, e.g. before the first unit of a compressed stream.
    virtual bool outputParameter(audio::audio_codec_parameter_t& output) const = 0;
};

// The backend for a platform format code, or null when the host build has none.
std::unique_ptr<DecoderBackend> makeBackend(int32_t codecType);

std::unique_ptr<DecoderBackend> makePcmBackend();

// RealAudio streams reach the decoder as headers only: it takes no units and has no output.
std::unique_ptr<DecoderBackend> makeRealAudioBackend();

}  // namespace hostaudio
