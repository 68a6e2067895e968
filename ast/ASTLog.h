// Log lines go straight to file descriptor 1, one write per line, so that lines keep
// their order on a pipe or a file and a signal handler can print without stdio locks.
//
// The lines are a contract: platform engineers' scripts parse them, so every text passed here
// (its spelling, spacing, odd grammar and format conversions included) stays exactly as it is.
// A new event gets a new line in the same style; an existing one is never "fixed".
#pragma once

#include <cstddef>
#include <cstring>
#include <string>

void astLog(const char* format, ...) __attribute__((format(printf, 1, 2)));
// Writes bytes as they are to standard output (no formatting, any length).
void astWrite(const char* data, size_t length);

// Text from a file or the command line made safe for one log line: line feeds, carriage returns
// and tabs as \n, \r and \t, other control bytes and DEL as \xNN, so that no name or value
// forges a line of its own. Other bytes (UTF-8 names) stay as they are, unless asciiOnly (bytes
// of a file that should be text, a tag's magic) escapes them too.
std::string escapeText(const char* text, size_t length, bool asciiOnly = false);
inline std::string escapeText(const char* text) { return escapeText(text, strlen(text)); }

// Opens /dev/null on whichever of descriptors 0, 1 and 2 is closed, so that no file opened later
// takes one of them and receives the log lines. Called first thing.
void ensureStandardDescriptors();
