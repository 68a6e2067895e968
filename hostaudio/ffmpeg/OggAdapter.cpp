// Ogg (2304): one Ogg packet per unit behind an 8-byte prefix (sync word, size, counter).
// The record says nothing about the codec, so the first packet does: a Vorbis, Opus or
// FLAC-in-Ogg identification header. The codec's own header packets build its setup; the
// packets after them are decoded. The tool hands out one logical stream, or the links of a
// chain one after the other: a new identification header starts the codec afresh, and what
// the old one still holds comes out first.
#include <cstdio>
#include <cstring>

#include "FormatAdapter.h"

namespace hostaudio {
namespace {

const uint32_t kSyncword = 0x76627349;
const size_t kPrefixLength = 8;
const std::string kFailure = "the packet does not decode";

enum class Codec { None, Vorbis, Opus, Flac };
enum class Header { None, VorbisId, VorbisComment, VorbisSetup, OpusHead, OpusTags, FlacMapping };

Header classify(const uint8_t* p, size_t n) {
    if (n >= 7 && memcmp(p + 1, "vorbis", 6) == 0) {
        if (p[0] == 1) return Header::VorbisId;
        if (p[0] == 3) return Header::VorbisComment;
        if (p[0] == 5) return Header::VorbisSetup;
    }
    if (n >= 8 && memcmp(p, "OpusHead", 8) == 0) return Header::OpusHead;
    if (n >= 8 && memcmp(p, "OpusTags", 8) == 0) return Header::OpusTags;
    if (n >= 5 && p[0] == 0x7F && memcmp(p + 1, "FLAC", 4) == 0) return Header::FlacMapping;
    return Header::None;
}

bool isIdentification(Header h) { return h == Header::VorbisId || h == Header::OpusHead || h == Header::FlacMapping; }

uint32_t le32(const uint8_t* p) { return p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24; }

std::string format(const char* fmt, long a, long b = 0) {
    char text[200];
    snprintf(text, sizeof text, fmt, a, b);
    return text;
}

class OggAdapter final : public FormatAdapter {
public:
    bool configure(const audio::audio_codec_parameter_t&) override {
        mCodec = Codec::None;
        mSetup = CodecSetup();
        for (std::vector<uint8_t>& h : mVorbisHeaders) h.clear();
        mCollectingVorbis = false;
        mOpusTagsSeen = false;
        mFlacFrameSeen = false;
        mExpectedCounter = 0;
        return true;
    }

    bool unpack(const uint8_t* data, size_t length, PacketOutput& out, std::string& problem) override {
        if (length < kPrefixLength) {
            problem = format("a unit of %ld bytes cannot hold the packet prefix", long(length));
            return false;
        }
        uint32_t sync = uint32_t(data[0]) << 24 | data[1] << 16 | data[2] << 8 | data[3];
        size_t size = size_t(data[4]) << 8 | data[5];
        uint16_t counter = uint16_t(data[6] << 8 | data[7]);
        if (sync != kSyncword) {
            problem = format("no packet sync word at the start of the unit (%08lX)", long(sync));
            return false;
        }
        if (size != length) {
            problem = format("a unit of %ld bytes whose prefix says %ld", long(length), long(size));
            return false;
        }
        // A gap means lost units; what arrives is still decoded.
        if (counter != mExpectedCounter)
            problem = format("packet counter %ld where %ld was expected", counter, mExpectedCounter);
        mExpectedCounter = uint16_t(counter + 1);

        const uint8_t* p = data + kPrefixLength;
        const size_t n = length - kPrefixLength;
        if (n == 0) return true;  // an empty packet decodes to nothing
        Header h = classify(p, n);
        if (mCodec == Codec::None || isIdentification(h)) return identify(h, p, n, out, problem);
        switch (mCodec) {
        case Codec::None: break;
        case Codec::Vorbis:
            if (mCollectingVorbis) return collectVorbis(h, p, n, out, problem);
            break;
        case Codec::Opus:
            if (h == Header::OpusTags && !mOpusTagsSeen) {
                mOpusTagsSeen = true;
                return true;
            }
            break;
        case Codec::Flac:
            if (n >= 2 && p[0] == 0xFF && (p[1] & 0xFE) == 0xF8) {
                mFlacFrameSeen = true;
                return decode(p, n, out, problem);
            }
            if (h == Header::None && !mFlacFrameSeen) return true;  // a metadata block before the frames
            if (h == Header::None) {
                problem = "a packet without a FLAC frame header among the frames";
                return false;
            }
            break;
        }
        if (h != Header::None) return other(problem);
        return decode(p, n, out, problem);
    }

private:
    bool identify(Header h, const uint8_t* p, size_t n, PacketOutput& out, std::string& problem) {
        mSetup = CodecSetup();
        switch (h) {
        case Header::VorbisId:
            if (n < 30 || p[11] == 0 || le32(p + 12) == 0 || le32(p + 12) > uint32_t(INT32_MAX)) {
                problem = "a damaged Vorbis identification header";
                return false;
            }
            mCodec = Codec::Vorbis;
            mSetup.codecId = AV_CODEC_ID_VORBIS;
            mSetup.channels = p[11];
            mSetup.sampleRate = int(le32(p + 12));
            mVorbisHeaders[0].assign(p, p + n);
            mVorbisHeaders[1].clear();
            mCollectingVorbis = true;
            return true;
        case Header::OpusHead: return openOpus(p, n, out, problem);
        case Header::FlacMapping: return openFlac(p, n, out, problem);
        default: problem = format("a packet before any identification header (first byte %02lX)", p[0]); return false;
        }
    }

    // The decoder wants all three Vorbis headers at once, in Xiph lacing.
    bool collectVorbis(Header h, const uint8_t* p, size_t n, PacketOutput& out, std::string& problem) {
        if (h == Header::VorbisComment && mVorbisHeaders[1].empty()) {
            mVorbisHeaders[1].assign(p, p + n);
            return true;
        }
        if (h != Header::VorbisSetup || mVorbisHeaders[1].empty()) {
            problem = mVorbisHeaders[1].empty() ? "a packet where the Vorbis comment header was expected"
                                                : "a packet where the Vorbis setup header was expected";
            return false;
        }
        mVorbisHeaders[2].assign(p, p + n);
        std::vector<uint8_t>& x = mSetup.extradata;
        x.assign(1, 2);
        for (int i = 0; i < 2; ++i) {
            size_t left = mVorbisHeaders[i].size();
            for (; left >= 255; left -= 255) x.push_back(255);
            x.push_back(uint8_t(left));
        }
        for (const std::vector<uint8_t>& header : mVorbisHeaders) x.insert(x.end(), header.begin(), header.end());
        if (!out.open(mSetup)) {
            problem = "the Vorbis decoder does not accept the stream's header packets";
            return false;
        }
        mCollectingVorbis = false;
        return true;
    }

    bool openOpus(const uint8_t* p, size_t n, PacketOutput& out, std::string& problem) {
        if (n < 19 || p[9] == 0 || (p[18] != 0 && n < 21u + p[9])) {
            problem = "a damaged OpusHead header";
            return false;
        }
        mCodec = Codec::Opus;
        mSetup.codecId = AV_CODEC_ID_OPUS;
        mSetup.sampleRate = 48000;
        mSetup.channels = p[9];
        // The pre-skip is dropped once, by the service, so the decoder is told none.
        mSetup.skipSamples = p[10] | p[11] << 8;
        mSetup.extradata.assign(p, p + n);
        mSetup.extradata[10] = mSetup.extradata[11] = 0;
        mOpusTagsSeen = false;
        return openOrReset(out, problem, "Opus");
    }

    // 0x7F "FLAC", version, header count, "fLaC", then the STREAMINFO block.
    bool openFlac(const uint8_t* p, size_t n, PacketOutput& out, std::string& problem) {
        if (n < 51 || memcmp(p + 9, "fLaC", 4) != 0 || (p[13] & 0x7F) != 0 ||
            (p[14] << 16 | p[15] << 8 | p[16]) != 34) {
            problem = "a FLAC mapping header without its STREAMINFO block";
            return false;
        }
        const uint8_t* info = p + 17;
        mCodec = Codec::Flac;
        mSetup.codecId = AV_CODEC_ID_FLAC;
        mSetup.sampleRate = info[10] << 12 | info[11] << 4 | info[12] >> 4;
        mSetup.channels = ((info[12] >> 1) & 7) + 1;
        mSetup.bitsPerCodedSample = ((info[12] & 1) << 4 | info[13] >> 4) + 1;
        mSetup.extradata.assign(info, info + 34);
        mFlacFrameSeen = false;
        return openOrReset(out, problem, "FLAC");
    }

    bool openOrReset(PacketOutput& out, std::string& problem, const char* name) {
        if (out.open(mSetup)) return true;
        mCodec = Codec::None;
        problem = std::string("the ") + name + " decoder does not accept the stream's identification header";
        return false;
    }

    // A comment or setup header where the stream has none (a damaged or foreign packet).
    bool other(std::string& problem) {
        problem = "a codec header packet out of place, skipped";
        return false;
    }

    bool decode(const uint8_t* p, size_t n, PacketOutput& out, std::string& problem) {
        if (out.packet(p, n, kFailure)) return true;
        if (problem.empty()) problem = kFailure;
        return false;
    }

    Codec mCodec = Codec::None;
    CodecSetup mSetup;
    std::vector<uint8_t> mVorbisHeaders[3];
    bool mCollectingVorbis = false;  // the identification header came, the codec waits for the other two
    bool mOpusTagsSeen = false;
    bool mFlacFrameSeen = false;
    uint16_t mExpectedCounter = 0;
};

}  // namespace

std::unique_ptr<FormatAdapter> makeOggAdapter() { return std::make_unique<OggAdapter>(); }

}  // namespace hostaudio
