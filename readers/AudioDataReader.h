// Abstract base of every input reader: opens the file, owns the frame buffer and the audio info.
//
// A derived constructor sets up its members and ends with openStream(), which runs the same steps
// for every format: parseHeaders() (the format's own), describe() (its summary lines), a seek to
// the first unit, and the invalid flag cleared. The log lines the readers print are read by
// scripts: their wording and format are a contract, kept as they are.
#pragma once

#include <cstdint>

#include "AudioInfo.h"
#include "ByteCursor.h"
#include "FrameBuffer.h"

class ASTDataAccess;

class AudioDataReader {
public:
    static const int32_t kUnmeasuredLength = 1 << 24;

    explicit AudioDataReader(const char* path);
    virtual ~AudioDataReader();

    virtual FrameBuffer* readFrame() = 0;

    bool isInvalid() const { return mInvalid; }
    // The open input's descriptor, -1 when it could not be opened.
    int inputDescriptor();
    const AudioInfo* getAudioInfo() const { return &mInfo; }
    // The codec id of what the reader found in the file, or CODEC_NONE when it is the one the
    // file's suffix chose.
    int32_t getFoundCodec() const { return mFoundCodec; }

    AudioDataReader(const AudioDataReader&) = delete;
    AudioDataReader& operator=(const AudioDataReader&) = delete;

protected:
    bool mInvalid;
    FrameBuffer mFrame;
    AudioInfo mInfo;
    ASTDataAccess* mAccess;
    int32_t mFoundCodec;

    // The template every derived constructor ends with.
    void openStream();
    // Parses the headers and returns the file position of the first unit, or -1 once the reason
    // has been printed.
    virtual int64_t parseHeaders() = 0;
    // Prints what the parse found, before the seek to the first unit; by default nothing.
    virtual void describe() {}
    // The summary most formats print: the parser's name, the rate and the channels.
    void printSummary(const char* parser) const;

    virtual void mapSampleRate(uint32_t value);
    virtual void mapChannel(uint8_t code);
    virtual int32_t getFrameLength();

    // Reads exactly `length` bytes; on a short read prints the end-of-data or the
    // read-failure line with the count and returns the count (never below 0).
    int32_t readFully(uint8_t* buffer, int32_t length);
    // Seeks to `offset` from the start (0), the current position (1) or the end (2), printing the
    // seek-failure line on failure.
    bool seekTo(int64_t offset, int32_t whence = 0);
    bool skip(int64_t distance) { return seekTo(distance, 1); }
    // Bytes from the current position to the end of the file (at most INT32_MAX; 16 MiB for an
    // input without an end to seek to, a pipe; 0 when unknown). Sizes read
    // from a header are bounded by it before anything is allocated for them.
    int32_t remainingLength();
    // The file's length, or -1 when the input cannot tell (a pipe, a device).
    int64_t fileLength();
    // At the start of a file, with its first `read` bytes in `head` (room for at least 10): when
    // they begin an ID3v2 tag of a well-formed size, prints that it is skipped before `what`,
    // seeks behind it and reads the first `read` bytes there into `head`. The tag's length, 0 when
    // there is none, or -1 when a read or the seek failed.
    int64_t skipId3v2Tag(uint8_t* head, int32_t read, const char* what);
    // A block whose size a header claims, read at the current position (see readClaimedBlock);
    // failed unless all of it was there.
    ByteCursor readClaimed(int32_t claimed, int32_t spare = 0);
};
