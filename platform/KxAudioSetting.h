// Output routing of the platform audio service.
#pragma once

#include <cstdint>

namespace audio {

class KxAudioSetting {
public:
    class Source {
    public:
        // First virtual slot: route the track to the named output; 0 on success.
        virtual int32_t selectOutputSource(const char* outputName, const char* trackName) = 0;
        virtual int32_t getOutputSource(char* outputName, int32_t capacity) = 0;

    protected:
        Source() = default;
        virtual ~Source() = default;

    private:
        Source(const Source&) = delete;
        Source& operator=(const Source&) = delete;
    };

    static Source* createSource();
    static void destroy(Source* source);
};

}  // namespace audio
