// Routing: the host has a single output, "main".
#include <cstdio>
#include <cstring>

#include "KxAudioSetting.h"

namespace hostaudio {
namespace {

const char kMainOutput[] = "main";

class HostSource final : public audio::KxAudioSetting::Source {
public:
    ~HostSource() override = default;

    int32_t selectOutputSource(const char* outputName, const char* trackName) override {
        if (outputName == nullptr || trackName == nullptr || std::strcmp(outputName, kMainOutput) != 0) {
            std::fprintf(stderr, "hostaudio: no output %s for track %s\n", outputName ? outputName : "(null)",
                         trackName ? trackName : "(null)");
            return -1;
        }
        return 0;
    }

    int32_t getOutputSource(char* outputName, int32_t capacity) override {
        if (outputName == nullptr || capacity < int32_t(sizeof kMainOutput)) {
            return -1;
        }
        std::memcpy(outputName, kMainOutput, sizeof kMainOutput);
        return 0;
    }
};

}  // namespace
}  // namespace hostaudio

namespace audio {

KxAudioSetting::Source* KxAudioSetting::createSource() { return new hostaudio::HostSource(); }

// Every source comes from createSource; the base destructor is not reachable from here.
void KxAudioSetting::destroy(Source* source) { delete static_cast<hostaudio::HostSource*>(source); }

}  // namespace audio
