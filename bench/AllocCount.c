// Counts every heap allocation of the process by standing in for the C allocator's entry points
// and handing on to glibc's own. operator new comes through malloc, so it is counted too.
#include <stddef.h>

#include "AllocCount.h"

extern void* __libc_malloc(size_t size);
extern void* __libc_calloc(size_t count, size_t size);
extern void* __libc_realloc(void* block, size_t size);
extern void* __libc_memalign(size_t alignment, size_t size);
extern void __libc_free(void* block);

static unsigned long long allocations;

static void count(void) { __atomic_add_fetch(&allocations, 1, __ATOMIC_RELAXED); }

unsigned long long allocationCount(void) { return __atomic_load_n(&allocations, __ATOMIC_RELAXED); }

void* malloc(size_t size) {
    count();
    return __libc_malloc(size);
}

void* calloc(size_t count_, size_t size) {
    count();
    return __libc_calloc(count_, size);
}

void* realloc(void* block, size_t size) {
    count();
    return __libc_realloc(block, size);
}

void free(void* block) { __libc_free(block); }

void* memalign(size_t alignment, size_t size) {
    count();
    return __libc_memalign(alignment, size);
}

void* aligned_alloc(size_t alignment, size_t size) { return memalign(alignment, size); }

int posix_memalign(void** out, size_t alignment, size_t size) {
    if (alignment < sizeof(void*) || (alignment & (alignment - 1)) != 0) return 22;  // EINVAL
    void* block = memalign(alignment, size);
    if (block == NULL && size != 0) return 12;  // ENOMEM
    *out = block;
    return 0;
}
