// The command line: argument record, parsing, validation and help.
#pragma once

#include <cstdint>

struct DecoderArgs {
    char progressName[64];
    char name[64];
    char decodeFile[256];
    char saveFile[256];
    int32_t sampleFrequency;
    int32_t channel;
    int32_t bitDepth;
};

extern const DecoderArgs kDefaultDecoderArgs;

// Fills args from the words after the program name, prints the validation messages, and on
// failure the help and the parse-failure line. True when the run can go on.
bool parseDecoderArgs(int argc, const char* const* argv, DecoderArgs* args);

void printHelp();

// Text after the last '.' of path, or null when there is none or it is empty.
const char* fileSuffix(const char* path);
