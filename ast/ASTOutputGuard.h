// The WAV output's header sizes, and the output that a fatal signal completes before the process
// ends, so that the file is a valid WAV of the PCM that reached it. One output at a time.
//
// The PCM is written on the reader thread while the signal may be handled on another one. The
// writer brackets every write with enterOutputWrite / leaveOutputWrite; the handler first closes
// the gate, then waits for a write in progress to return, and only then reads the file's size,
// so the header never counts a block that is still arriving and no block lands after it.
#pragma once

#include <cstdint>

// A WAV header is 44 bytes, or 80 with a JUNK chunk held for the ds64 chunk of an RF64 file.
const int32_t kWavHeaderLength = 44;
const int32_t kRf64HeaderLength = 80;

// One field of a WAV header to rewrite once the file's length is known.
struct WavSizeField {
    int32_t offset;
    int32_t length;
    uint8_t bytes[36];
};

// What completing a header of headerLength bytes makes of a file of fileLength bytes.
enum class WavSizes {
    Plain,      // the 32-bit sizes hold it
    Rf64,       // the JUNK chunk becomes ds64, the header RF64
    Saturated,  // too long for a 44-byte header: the sizes say 0xFFFFFFFF, as streams do
};

// Fills fields (room for 3) with what completes the header; returns the count and sets kind.
int32_t wavSizeFields(int32_t headerLength, int64_t fileLength, uint32_t blockAlign, WavSizeField* fields,
                      WavSizes* kind);
// The line a header that is not plain prints, or null.
const char* wavSizesLine(WavSizes kind);

// The descriptor of the output once its header is in place; -1 takes it back. Called on the
// thread that writes the output.
void guardWavOutput(int fd, int32_t headerLength = kWavHeaderLength, uint32_t blockAlign = 0);

// Around every write of the output, on that thread. Once a fatal signal is completing the header,
// enterOutputWrite never returns: the process is ending, and no block may land after the header.
void enterOutputWrite();
void leaveOutputWrite();

// Async-signal-safe, and only on the way to ending the process: sets the header's sizes from
// the file's length, with fstat and pwrite on the registered descriptor. Waits at most about two
// seconds for a write on another thread to return.
void completeGuardedWav();
