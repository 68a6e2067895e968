// The whole life of one decode, from the command line to the exit code.
#pragma once

// 0 when the decode ran to its end (or was stopped by SIGUSR1), -1 on any failure, an output that
// lost bytes included.
int runDecoder(int argc, const char* const* argv);
