#include "ASTLog.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

void astWrite(const char* data, size_t length) {
    while (length > 0) {
        ssize_t n = ::write(STDOUT_FILENO, data, length);
        if (n < 0) {
            if (errno == EINTR) continue;
            return;  // nowhere left to report to
        }
        data += n;
        length -= static_cast<size_t>(n);
    }
}

std::string escapeText(const char* text, size_t length, bool asciiOnly) {
    std::string out;
    out.reserve(length);
    for (size_t i = 0; i < length; ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (c >= 0x20 && c != 0x7F && !(asciiOnly && c >= 0x80)) {
            out += static_cast<char>(c);
        } else if (c == '\n' || c == '\r' || c == '\t') {
            out += c == '\n' ? "\\n" : c == '\r' ? "\\r" : "\\t";
        } else {
            static const char hex[] = "0123456789ABCDEF";
            out += "\\x";
            out += hex[c >> 4];
            out += hex[c & 0xF];
        }
    }
    return out;
}

void astLog(const char* format, ...) {
    // Lines are short (paths are at most 255 characters); a stack buffer keeps this usable
    // from a signal handler. A longer line is cut rather than allocated for.
    char line[2048];
    va_list args;
    va_start(args, format);
    int n = vsnprintf(line, sizeof(line), format, args);
    va_end(args);
    if (n < 0) return;
    size_t length = static_cast<size_t>(n) < sizeof(line) ? static_cast<size_t>(n) : sizeof(line) - 1;
    astWrite(line, length);
}

void ensureStandardDescriptors() {
    for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
        if (fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
        // The lowest free descriptor is this one, as every lower one is open by now.
        int opened = open("/dev/null", O_RDWR);
        if (opened >= 0 && opened != fd) close(opened);
    }
}
