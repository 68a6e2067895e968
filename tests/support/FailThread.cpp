// Preloaded into the tool: the Nth pthread_create of the process (OSTREL_FAIL_THREAD=N) fails with
// EAGAIN, as under a process limit or a pids cgroup; every other call goes through.
#include <dlfcn.h>
#include <pthread.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>

extern "C" int pthread_create(pthread_t* thread, const pthread_attr_t* attr, void* (*start)(void*), void* arg) {
    using Create = int (*)(pthread_t*, const pthread_attr_t*, void* (*)(void*), void*);
    static const Create real = reinterpret_cast<Create>(dlsym(RTLD_NEXT, "pthread_create"));
    static std::atomic<long> calls{0};
    const char* failing = getenv("OSTREL_FAIL_THREAD");
    if (failing != nullptr && ++calls == atol(failing)) return EAGAIN;
    return real(thread, attr, start, arg);
}
