// RealAudio (1792): the tool parses RealMedia headers only and hands over no units, so the
// decoder takes none, never has output, and finishes as soon as the stream ends.
#include "DecoderBackend.h"

namespace hostaudio {
namespace {

class RealAudioBackend final : public DecoderBackend {
public:
    bool configure(const audio::audio_codec_parameter_t&) override { return true; }
    bool decode(const uint8_t*, size_t, PcmSink&) override { return false; }
    void drain(PcmSink&) override {}
    bool outputParameter(audio::audio_codec_parameter_t&) const override { return false; }
};

}  // namespace

std::unique_ptr<DecoderBackend> makeRealAudioBackend() { return std::make_unique<RealAudioBackend>(); }

}  // namespace hostaudio
