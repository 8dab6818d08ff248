/* Preloaded into another program (LD_PRELOAD) to count its heap allocations the way the
 * benchmarks count their own: malloc, calloc, realloc, reallocarray, memalign, aligned_alloc
 * and posix_memalign (operator new of the C++ library ends in malloc). At exit the total is
 * written to the file named by KORVELO_ALLOC_COUNT_FILE. */
#include <errno.h>
#include <stdatomic.h>
#include <stdio.h>
#include <stdlib.h>

void *__libc_malloc(size_t);
void *__libc_calloc(size_t, size_t);
void *__libc_realloc(void *, size_t);
void *__libc_memalign(size_t, size_t);

static atomic_ullong count;

#define NOTE() atomic_fetch_add_explicit(&count, 1, memory_order_relaxed)

void *malloc(size_t size) {
  NOTE();
  return __libc_malloc(size);
}

void *calloc(size_t n, size_t size) {
  NOTE();
  return __libc_calloc(n, size);
}

void *realloc(void *p, size_t size) {
  NOTE();
  return __libc_realloc(p, size);
}

void *reallocarray(void *p, size_t n, size_t size) {
  size_t bytes;
  if (__builtin_mul_overflow(n, size, &bytes)) {
    errno = ENOMEM;
    return NULL;
  }
  NOTE();
  return __libc_realloc(p, bytes);
}

void *memalign(size_t alignment, size_t size) {
  NOTE();
  return __libc_memalign(alignment, size);
}

void *aligned_alloc(size_t alignment, size_t size) {
  NOTE();
  return __libc_memalign(alignment, size);
}

int posix_memalign(void **result, size_t alignment, size_t size) {
  if (alignment < sizeof(void *) || (alignment & (alignment - 1)) != 0)
    return EINVAL;
  NOTE();
  void *p = __libc_memalign(alignment, size);
  if (!p)
    return ENOMEM;
  *result = p;
  return 0;
}

__attribute__((destructor)) static void report(void) {
  const char *name = getenv("KORVELO_ALLOC_COUNT_FILE");
  if (!name)
    return;
  /* The count is taken before fopen allocates its own buffer. */
  const unsigned long long total = atomic_load(&count);
  FILE *f = fopen(name, "w");
  if (f) {
    fprintf(f, "%llu\n", total);
    fclose(f);
  }
}
