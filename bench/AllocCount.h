// Heap allocations made by the whole process so far (malloc, calloc, realloc, aligned forms).
#pragma once

#ifdef __cplusplus
extern "C" {
#endif

unsigned long long allocationCount(void);

#ifdef __cplusplus
}
#endif
