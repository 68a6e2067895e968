// PCM input is already what the service outputs: it passes through byte for byte.
#include <cstring>

#include "DecoderBackend.h"

namespace hostaudio {
namespace {

class PcmBackend final : public DecoderBackend {
public:
    bool configure(const audio::audio_codec_parameter_t& input) override {
        mInput = input;
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
        output.sampleRate = mInput.sampleRate;
        output.channels = mInput.channels;
        output.channelMap = mInput.channelMap;
        output.pcm.format = mInput.pcm.format;
        output.pcm.blockAlign = mInput.pcm.blockAlign;
        output.pcm.bytesPerSecond = mInput.pcm.bytesPerSecond;
        return true;
    }

private:
    audio::audio_codec_parameter_t mInput{};
};

}  // namespace

std::unique_ptr<DecoderBackend> makePcmBackend() { return std::make_unique<PcmBackend>(); }

}  // namespace hostaudio
