#include "Mp4SampleEntry.h"

#include <cstdio>

#include "ASTLog.h"
#include "Codecs.h"
#include "FieldCodec.h"
#include "Mp4FourCc.h"

namespace {

const int32_t kAlacHeaderLength = 16;
const int32_t kAdtsHeaderLength = 7;
const uint32_t kLongestAdtsFrame = 8191;  // 13-bit frame length
const uint32_t kLastPacketBit = 0x80000000u;
// The sample entry's own fields behind its atom header: SampleEntry's 8, AudioSampleEntry's 20;
// the QuickTime sound description versions 1 and 2 add 16 and 36.
const uint32_t kAudioEntryFields = 28;

// Indexed by samplingFrequencyIndex; 15 is the escape to an explicit frequency.
const uint32_t kAacRates[15] = {96000, 88200, 64000, 48000, 44100, 32000, 24000, 22050,
                                16000, 12000, 11025, 8000,  7350,  0,     0};

// The body of the first child atom of `type` in `children`; failed when there is none.
ByteCursor child(ByteCursor& children, uint32_t type) {
    while (children.remaining() >= 8) {
        const uint32_t size = children.be(4), found = children.be(4);
        if (size < 8) break;
        ByteCursor body = children.sub(size - 8);
        if (found == type) return body;
    }
    ByteCursor none;
    none.setFailed();
    return none;
}

// The configuration atom of `type` among the entry's children, or, as QuickTime files have
// it, inside their 'wave' atom.
ByteCursor configuration(ByteCursor& children, uint32_t type) {
    ByteCursor rest(children.here(), children.remaining());
    ByteCursor found = child(children, type);
    if (found.ok()) return found;
    ByteCursor wave = child(rest, fourCc("wave"));
    return child(wave, type);
}

// An MPEG-4 descriptor: its tag (0 when none is left) and a cursor over its body.
ByteCursor descriptor(ByteCursor& c, uint32_t& tag) {
    tag = c.be(1);
    uint32_t length = 0;
    for (int i = 0; i < 4; ++i) {
        const uint32_t b = c.be(1);
        length = length << 7 | (b & 0x7F);
        if ((b & 0x80) == 0) break;
    }
    return c.sub(length);
}

// The first descriptor of `tag` among those in `c`.
ByteCursor descriptorOf(ByteCursor& c, uint32_t tag) {
    for (;;) {
        uint32_t found = 0;
        ByteCursor d = descriptor(c, found);
        if (found == tag || !c.ok()) return d;
    }
}

uint32_t audioObjectType(ByteCursor& c) {
    const uint32_t type = c.bits(5);
    return type == 31 ? 32 + c.bits(6) : type;
}

}  // namespace

bool Mp4SampleEntry::refuse(const char* why, uint32_t value) const {
    char detail[64] = "";
    if (why != nullptr) snprintf(detail, sizeof detail, why, value);
    astLog("[AST][ERR]Unsupported MP4 sample entry '%s'%s.\n", fourCcText(mFormat).c_str(), detail);
    return false;
}

bool Mp4SampleEntry::parse(ByteCursor& stsd) {
    stsd.skip(4);
    const uint32_t count = stsd.be(4);
    if (stsd.ok() && count != 1) {
        astLog("[AST][ERR]The audio track has %u sample entries; one is supported.\n", count);
        return false;
    }
    const uint32_t size = stsd.be(4);
    mFormat = stsd.be(4);
    ByteCursor entry = stsd.sub(size >= 8 ? size - 8 : 0);
    entry.skip(8);
    const uint32_t version = entry.be(2);
    entry.skip(14);
    mSampleRate = entry.be(4) >> 16;  // 16.16 fixed point
    entry.skip(version == 1 ? 16 : (version == 2 ? 36 : 0));
    if (!stsd.ok() || !entry.ok() || size < 8 + kAudioEntryFields) {
        astLog("[AST][ERR]Unexpected 'stsd' atom length.\n");
        return false;
    }

    switch (mFormat) {
    case fourCc("alac"): return parseAlac(entry);
    case fourCc("mp4a"): return parseEsds(entry);
    case fourCc("ac-3"): mKind = AC3, mName = "AC-3"; return true;
    case fourCc("ec-3"): mKind = EAC3, mName = "E-AC-3"; return true;
    default: return refuse(nullptr, 0);
    }
}

bool Mp4SampleEntry::parseAlac(ByteCursor& children) {
    ByteCursor cookie = configuration(children, fourCc("alac"));
    cookie.skip(4);  // version and flags
    mMaxSamplePerFrame = cookie.be(4);
    cookie.skip(1);
    mSampleSize = static_cast<uint8_t>(cookie.be(1));
    cookie.skip(3);
    mChannels = static_cast<uint8_t>(cookie.be(1));
    cookie.skip(10);
    mSampleRate = cookie.be(4);
    if (!cookie.ok()) {
        astLog("[AST][ERR]Found no 'alac' configuration in the 'alac' sample entry.\n");
        return false;
    }
    mKind = ALAC, mName = "ALAC";
    return true;
}

bool Mp4SampleEntry::parseEsds(ByteCursor& children) {
    ByteCursor esds = configuration(children, fourCc("esds"));
    esds.skip(4);  // version and flags
    ByteCursor es = descriptorOf(esds, 3);
    es.skip(2);  // ES_ID
    const uint32_t flags = es.be(1);
    if (flags & 0x80) es.skip(2);         // dependsOn_ES_ID
    if (flags & 0x40) es.skip(es.be(1));  // URL
    if (flags & 0x20) es.skip(2);         // OCR_ES_Id
    ByteCursor config = descriptorOf(es, 4);
    const uint32_t objectType = config.be(1);
    config.skip(12);  // stream type, buffer size, bit rates
    if (!config.ok()) {
        astLog("[AST][ERR]Found no 'esds' configuration in the 'mp4a' sample entry.\n");
        return false;
    }
    switch (objectType) {
    case 0x69:
    case 0x6B:  // MPEG-2 and MPEG-1 audio; the layer is in the frames
        mKind = MPEG, mName = "MPEG audio";
        return true;
    case 0x40:
    case 0x66:
    case 0x67:
    case 0x68:  // MPEG-4 audio, MPEG-2 AAC Main, LC, SSR
        return parseAudioSpecificConfig(descriptorOf(config, 5));
    default: return refuse(" (object type 0x%02X)", objectType);
    }
}

bool Mp4SampleEntry::parseAudioSpecificConfig(ByteCursor c) {
    uint32_t type = audioObjectType(c);
    uint32_t index = c.bits(4);
    const uint32_t explicitRate = index == 15 ? c.bits(24) : 0;
    const uint32_t channels = c.bits(4);
    // Explicit SBR and PS: the rate above is the core's, which the ADTS header carries; the
    // output rate and the core's object type follow.
    const bool sbr = type == 5 || type == 29, ps = type == 29;
    if (sbr) {
        if (c.bits(4) == 15) c.bits(24);
        type = audioObjectType(c);
    }
    if (!c.ok()) {
        astLog("[AST][ERR]Found no AudioSpecificConfig in the 'mp4a' sample entry.\n");
        return false;
    }
    // ADTS carries the object types 1 to 4 (Main, LC, SSR, LTP), a rate index and channel
    // configurations 1 to 7.
    if (type < 1 || type > 4) return refuse(" (AAC object type %u)", type);
    for (uint32_t i = 0; index == 15 && i < 13; ++i)
        if (kAacRates[i] == explicitRate) index = i;
    if (index == 15) return refuse(" (AAC sampling frequency %u)", explicitRate);
    if (channels < 1 || channels > 7) return refuse(" (AAC channel configuration %u)", channels);

    static const char* const kNames[4] = {"AAC Main", "AAC LC", "AAC SSR", "AAC LTP"};
    mKind = AAC;
    mName = ps ? "HE-AAC v2" : (sbr ? "HE-AAC" : kNames[type - 1]);
    mProfile = static_cast<uint8_t>(type - 1);
    mSamplingFrequencyIndex = static_cast<uint8_t>(index);
    mChannelConfiguration = static_cast<uint8_t>(channels);
    mSampleRate = kAacRates[index];
    mChannels = static_cast<uint8_t>(channels);
    return true;
}

bool Mp4SampleEntry::takeFirstFrame(const uint8_t* header) {
    ByteCursor c(header, 4);
    const uint32_t sync = c.bits(11), version = c.bits(2), layer = c.bits(2);
    c.bits(5);  // protection, bit rate
    const uint32_t rateIndex = c.bits(2);
    c.bits(2);  // padding, private
    const uint32_t mode = c.bits(2);
    if (sync != 0x7FF || version == 1 || layer == 0 || rateIndex == 3) {
        astLog("[AST][ERR]The first sample of the 'mp4a' sample entry is no MPEG audio frame.\n");
        return false;
    }
    static const uint32_t kRates[3] = {44100, 48000, 32000};  // MPEG-1; halved for 2, quartered for 2.5
    mSampleRate = kRates[rateIndex] >> (version == 3 ? 0 : (version == 2 ? 1 : 2));
    mChannels = mode == 3 ? 1 : 2;
    mMpegLayer = layer == 3 ? 0 : (layer == 2 ? 1 : 2);
    static const char* const kNames[3] = {"MPEG audio Layer I", "MPEG audio Layer II", "MPEG audio Layer III"};
    mName = kNames[mMpegLayer];
    return true;
}

int32_t Mp4SampleEntry::codec() const {
    switch (mKind) {
    case ALAC: return CODEC_ALAC;
    case AAC: return CODEC_AAC;
    case MPEG: return CODEC_MPEG;
    case AC3:
    case EAC3: return CODEC_AC3;
    default: return CODEC_NONE;
    }
}

const char* Mp4SampleEntry::parserName() const {
    switch (mKind) {
    case ALAC: return "parseAlacHeader";
    case AAC: return "parseAacHeader";
    case MPEG: return "parseMp3DataFrameHeader";
    default: return "parseEacHeader";
    }
}

int32_t Mp4SampleEntry::prefixLength() const {
    return mKind == ALAC ? kAlacHeaderLength : (mKind == AAC ? kAdtsHeaderLength : 0);
}

uint32_t Mp4SampleEntry::longestSample() const {
    return mKind == AAC ? kLongestAdtsFrame - kAdtsHeaderLength : INT32_MAX - kAlacHeaderLength;
}

void Mp4SampleEntry::writePrefix(uint8_t* out, uint32_t size, bool last) const {
    if (mKind == ALAC) {
        writeByteField(out, 4, fourCc("ALAC"), AST_BIG_ENDIAN);
        writeByteField(out, 4, size | (last ? kLastPacketBit : 0), AST_BIG_ENDIAN);
        writeByteField(out, 1, mSampleSize, AST_BIG_ENDIAN);
        writeByteField(out, 3, mSampleRate & 0xFFFFFF, AST_BIG_ENDIAN);
        writeByteField(out, 4, mMaxSamplePerFrame, AST_BIG_ENDIAN);
    } else if (mKind == AAC) {
        // MPEG-4, no CRC, the buffer fullness of a variable rate, one raw data block.
        const uint32_t length = size + kAdtsHeaderLength;
        out[0] = 0xFF;
        out[1] = 0xF1;
        out[2] = static_cast<uint8_t>(mProfile << 6 | mSamplingFrequencyIndex << 2 | mChannelConfiguration >> 2);
        out[3] = static_cast<uint8_t>((mChannelConfiguration & 3) << 6 | length >> 11);
        out[4] = static_cast<uint8_t>(length >> 3);
        out[5] = static_cast<uint8_t>((length & 7) << 5 | 0x1F);
        out[6] = 0xFC;
    }
}
