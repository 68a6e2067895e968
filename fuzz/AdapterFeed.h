// Feeds a host service format adapter from fuzz input laid out as:
//   1 byte   packet sink behaviour: bit 0 refuses open, bit 1 rejects every packet
//   32 bytes the configure record (audio_codec_parameter_t as it lies in memory)
//   then units, each a 16-bit big-endian length and that many bytes (the last one may be short)
// The sink checks what the adapter hands on and touches every byte but runs no codec:
// FFmpeg's decoders are not ours to fuzz.
#pragma once

#include <cstring>
#include <memory>
#include <string>

extern "C" {
#include <libavutil/log.h>
}

#include "FormatAdapter.h"
#include "FuzzSupport.h"

namespace fuzzsupport {

const size_t kRecordOffset = 1;
const size_t kUnitsOffset = kRecordOffset + sizeof(audio::audio_codec_parameter_t);

class CheckingOutput final : public hostaudio::PacketOutput {
public:
    explicit CheckingOutput(uint8_t behaviour) : mRefuseOpen(behaviour & 1), mRejectPackets(behaviour & 2) {}

    bool open(const hostaudio::CodecSetup& setup) override {
        if (setup.sampleRate < 0 || setup.channels < 0 || setup.blockAlign < 0 || setup.skipSamples < 0)
            __builtin_trap();
        touch(setup.extradata.data(), setup.extradata.size());
        if (mRefuseOpen) return false;
        mOpen = true;
        return true;
    }
    bool isOpen() const override { return mOpen; }
    bool packet(const uint8_t* data, size_t length, const std::string& failure) override {
        // Packets are parts of units of at most 64 KiB, or an adapter's own small buffers; each
        // says what to report if it turns out bad.
        if (!mOpen || (data == nullptr && length > 0) || length > (size_t(1) << 24) || failure.empty())
            __builtin_trap();
        touch(data, length);
        return !mRejectPackets;
    }

private:
    bool mRefuseOpen, mRejectPackets;
    bool mOpen = false;
};

inline int feedAdapter(std::unique_ptr<hostaudio::FormatAdapter> adapter, const uint8_t* data, size_t size) {
    static const bool quiet = (av_log_set_level(AV_LOG_QUIET), true);
    (void)quiet;
    if (size < kUnitsOffset) return 0;
    audio::audio_codec_parameter_t record;
    memcpy(&record, data + kRecordOffset, sizeof record);
    if (!adapter->configure(record)) return 0;
    CheckingOutput out(data[0]);
    std::string problem;
    for (size_t at = kUnitsOffset; at < size;) {
        size_t length = size - at < 2 ? 0 : size_t(data[at]) << 8 | data[at + 1];
        at += size - at < 2 ? size - at : 2;
        if (length > size - at) length = size - at;
        // Each unit in a block of its own size, as the service's unit copies are.
        std::unique_ptr<uint8_t[]> unit(new uint8_t[length]);
        if (length > 0) memcpy(unit.get(), data + at, length);
        problem.clear();
        // A refused unit always comes with its reason.
        if (!adapter->unpack(unit.get(), length, out, problem) && problem.empty()) __builtin_trap();
        at += length;
    }
    adapter->finish(out);
    return 0;
}

}  // namespace fuzzsupport
