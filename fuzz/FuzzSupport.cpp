#include "FuzzSupport.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

namespace fuzzsupport {

void silenceStdout() {
    int null = open("/dev/null", O_WRONLY);
    if (null < 0 || dup2(null, STDOUT_FILENO) < 0) abort();
    close(null);
}

const char* asFile(const uint8_t* data, size_t size) {
    static int fd = -1;
    static char path[64];
    if (fd < 0) {
        fd = memfd_create("fuzz-input", 0);
        if (fd < 0) abort();
        snprintf(path, sizeof path, "/proc/self/fd/%d", fd);
    }
    // Readers open the path anew, so the offset of fd itself does not matter.
    if (ftruncate(fd, 0) != 0) abort();
    for (size_t done = 0; done < size;) {
        ssize_t n = pwrite(fd, data + done, size - done, off_t(done));
        if (n <= 0) abort();
        done += size_t(n);
    }
    return path;
}

}  // namespace fuzzsupport

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzzsupport::silenceStdout();
    return 0;
}
