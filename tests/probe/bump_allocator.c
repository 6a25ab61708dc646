/* An allocator of the application's own in place of the C library's, as a
 * preloaded or linked-in jemalloc or valgrind's is: memory from a pool of
 * its own, never given back. Memory from it handed to the C library's free
 * aborts the process, so a library that binds libcups to the C library's
 * allocator first is caught. */
#include <stddef.h>
#include <string.h>

static char pool[256 << 20];
static size_t used;

/* Each block starts with its size, for realloc. */
void* malloc(size_t size) {
    size_t rounded = (size + 15) & ~(size_t)15;
    size_t at = __atomic_fetch_add(&used, rounded + 16, __ATOMIC_RELAXED);
    if (at + rounded + 16 > sizeof pool) return NULL;
    memcpy(pool + at, &size, sizeof size);
    return pool + at + 16;
}

void free(void* block) {
    (void)block;
}

/* The pool starts zeroed and is never reused: a block is zero already (and
 * a memset here could be turned back into a call of calloc). */
void* calloc(size_t count, size_t size) {
    if (size != 0 && count > (size_t)-1 / size) return NULL;
    return malloc(count * size);
}

void* realloc(void* block, size_t size) {
    void* moved = malloc(size);
    if (block != NULL && moved != NULL) {
        size_t old;
        memcpy(&old, (char*)block - 16, sizeof old);
        memcpy(moved, block, old < size ? old : size);
    }
    return moved;
}

void* memalign(size_t alignment, size_t size) {
    char* block = malloc(size + alignment);
    if (block == NULL) return NULL;
    return (void*)(((size_t)block + alignment - 1) & ~(alignment - 1));
}

int posix_memalign(void** out, size_t alignment, size_t size) {
    *out = memalign(alignment, size);
    return *out != NULL ? 0 : 12;
}

void* aligned_alloc(size_t alignment, size_t size) {
    return memalign(alignment, size);
}
