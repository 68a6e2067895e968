// The WAV output that a fatal signal completes before the process ends, so that the file is a
// valid WAV of the PCM that reached it. One output at a time.
//
// The PCM is written on the reader thread while the signal may be handled on another one. The
// writer brackets every write with enterOutputWrite / leaveOutputWrite; the handler first closes
// the gate, then waits for a write in progress to return, and only then reads the file's size,
// so the header never counts a block that is still arriving and no block lands after it.
#pragma once

// The descriptor of the output, once its 44-byte header is in place; -1 takes it back. Called on
// the thread that writes the output.
void guardWavOutput(int fd);

// Around every write of the output, on that thread. Once a fatal signal is completing the header,
// enterOutputWrite never returns: the process is ending, and no block may land after the header.
void enterOutputWrite();
void leaveOutputWrite();

// Async-signal-safe, and only on the way to ending the process: sets the header's two sizes from
// the file's length, with fstat and pwrite on the registered descriptor. Waits at most about two
// seconds for a write on another thread to return.
void completeGuardedWav();
