// PCM input is already what the service outputs: it passes through byte for byte.
#include <cstring>

#include "DecoderBackend.h"

namespace hostaudio {
namespace {

class PcmBackend final : public DecoderBackend {
public:
    bool configure(const audio::audio_codec_parameter_t& input) override {
        input_ = input;
        return true;
    }

    bool decode(const uint8_t* data, size_t length, PcmSink& sink) override {
        sink.append(data, length);
        return true;
    }

    void drain(PcmSink&) override {}

    bool outputParameter(audio::audio_codec_parameter_t& output) const override {
        std::memset(&output, 0, sizeof output);
        output.codecType = audio::AUDIO_CODEC_PCM;
        output.sampleRate = input_.sampleRate;
        output.channels = input_.channels;
        output.channelMap = input_.channelMap;
        output.pcm.format = input_.pcm.format;
        output.pcm.blockAlign = input_.pcm.blockAlign;
        output.pcm.bytesPerSecond = input_.pcm.bytesPerSecond;
        return true;
    }

private:
    audio::audio_codec_parameter_t input_{};
};

}  // namespace

std::unique_ptr<DecoderBackend> makePcmBackend() { return std::make_unique<PcmBackend>(); }

}  // namespace hostaudio
