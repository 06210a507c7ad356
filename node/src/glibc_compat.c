// Lets a prebuilt addon, linked on a newer glibc, load on glibc 2.28 (the floor of Node 20's
// own Linux binaries). The addon and the static libraries inside it (libstdc++, libgcc,
// libcrypto) refer to functions by name, and the linker binds each name to the newest version
// the build machine's glibc has. Every such name whose newest version is above 2.28 is defined
// here, so the whole addon uses these definitions, and each passes on to the oldest version of
// the function, which every glibc keeps. The version script keeps the names out of the exports.
// Built for x86-64 and aarch64 only (VORLIX_GLIBC_COMPAT).
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <link.h>
#include <pthread.h>
#include <stdint.h>
#include <stdlib.h>
#include <sys/random.h>

// glibc declares pthread_setspecific's value as never read, which makes GCC take passing it on
// for a read of uninitialised memory.
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"

#if defined(__x86_64__)
#define VORLIX_GLIBC_BASE "GLIBC_2.2.5"
#define VORLIX_STAT_VER 1
#elif defined(__aarch64__)
#define VORLIX_GLIBC_BASE "GLIBC_2.17"
#define VORLIX_STAT_VER 0
#else
#error "glibc_compat.c knows the base symbol versions of x86-64 and aarch64 only"
#endif

// Defines `name` as a call of the function's base version, reached as vorlix_old_<name>.
#define VORLIX_COMPAT(ret, name, params, args)                          \
  __asm__(".symver vorlix_old_" #name "," #name "@" VORLIX_GLIBC_BASE); \
  extern ret vorlix_old_##name params;                                  \
  ret name params {                                                     \
    return vorlix_old_##name args;                                      \
  }

// glibc 2.34 moved these from libpthread and libdl into libc under new versions.
VORLIX_COMPAT(int, pthread_create,
              (pthread_t * t, const pthread_attr_t* a, void* (*f)(void*), void* arg),
              (t, a, f, arg))
VORLIX_COMPAT(int, pthread_join, (pthread_t t, void** r), (t, r))
VORLIX_COMPAT(int, pthread_detach, (pthread_t t), (t))
VORLIX_COMPAT(int, pthread_once, (pthread_once_t * o, void (*f)(void)), (o, f))
VORLIX_COMPAT(int, pthread_key_create, (pthread_key_t * k, void (*d)(void*)), (k, d))
VORLIX_COMPAT(int, __pthread_key_create, (pthread_key_t * k, void (*d)(void*)), (k, d))
VORLIX_COMPAT(int, pthread_key_delete, (pthread_key_t k), (k))
VORLIX_COMPAT(void*, pthread_getspecific, (pthread_key_t k), (k))
VORLIX_COMPAT(int, pthread_setspecific, (pthread_key_t k, const void* v), (k, v))
VORLIX_COMPAT(int, pthread_rwlock_init, (pthread_rwlock_t * l, const pthread_rwlockattr_t* a),
              (l, a))
VORLIX_COMPAT(int, pthread_rwlock_destroy, (pthread_rwlock_t * l), (l))
VORLIX_COMPAT(int, pthread_rwlock_rdlock, (pthread_rwlock_t * l), (l))
VORLIX_COMPAT(int, pthread_rwlock_wrlock, (pthread_rwlock_t * l), (l))
VORLIX_COMPAT(int, pthread_rwlock_unlock, (pthread_rwlock_t * l), (l))
VORLIX_COMPAT(void*, dlopen, (const char* file, int mode), (file, mode))
VORLIX_COMPAT(void*, dlsym, (void* restrict h, const char* restrict name), (h, name))
VORLIX_COMPAT(int, dlclose, (void* h), (h))
VORLIX_COMPAT(char*, dlerror, (void), ())
VORLIX_COMPAT(int, dladdr, (const void* a, Dl_info* info), (a, info))

// log2 got a new version in 2.29 (errno handling); the base one computes the same values.
VORLIX_COMPAT(double, log2, (double x), (x))

// stat and fstat are functions since 2.33; before, the headers mapped them onto __xstat and
// __fxstat, which take the layout version of struct stat first.
struct stat;
__asm__(".symver vorlix_old___xstat,__xstat@" VORLIX_GLIBC_BASE);
__asm__(".symver vorlix_old___fxstat,__fxstat@" VORLIX_GLIBC_BASE);
extern int vorlix_old___xstat(int ver, const char* path, struct stat* buf);
extern int vorlix_old___fxstat(int ver, int fd, struct stat* buf);
int stat(const char* restrict path, struct stat* restrict buf) {
  return vorlix_old___xstat(VORLIX_STAT_VER, path, buf);
}
int fstat(int fd, struct stat* buf) {
  return vorlix_old___fxstat(VORLIX_STAT_VER, fd, buf);
}

// libstdc++ skips atomic reference counts while this is non-zero; zero is always correct.
char __libc_single_threaded = 0;

// arc4random (2.36), as glibc's: from getrandom (2.25), fatal when no randomness is available.
uint32_t arc4random(void) {
  uint32_t value = 0;
  for (;;) {
    ssize_t got = getrandom(&value, sizeof value, 0);
    if (got == (ssize_t)sizeof value) return value;
    if (got < 0 && errno != EINTR) abort();
  }
}

// _dl_find_object (2.35) finds the unwind tables when a C++ exception is thrown; the same from
// dl_iterate_phdr, which the unwinder used before it existed.
struct vorlix_find_object {
  uintptr_t pc;
  struct dl_find_object* result;
};

static int vorlix_find_object_in(struct dl_phdr_info* info, size_t size, void* data) {
  (void)size;
  struct vorlix_find_object* find = data;
  uintptr_t start = UINTPTR_MAX;
  uintptr_t end = 0;
  int contains = 0;
  void* eh_frame = NULL;
  for (ElfW(Half) i = 0; i < info->dlpi_phnum; ++i) {
    const ElfW(Phdr)* phdr = &info->dlpi_phdr[i];
    uintptr_t seg = info->dlpi_addr + phdr->p_vaddr;
    if (phdr->p_type == PT_LOAD) {
      if (seg < start) start = seg;
      if (seg + phdr->p_memsz > end) end = seg + phdr->p_memsz;
      if (find->pc >= seg && find->pc < seg + phdr->p_memsz) contains = 1;
    } else if (phdr->p_type == PT_GNU_EH_FRAME) {
      eh_frame = (void*)seg;
    }
  }
  if (!contains) return 0;
  *find->result = (struct dl_find_object){0};
  find->result->dlfo_map_start = (void*)start;
  find->result->dlfo_map_end = (void*)end;
  find->result->dlfo_eh_frame = eh_frame;
  return 1;
}

int _dl_find_object(void* pc, struct dl_find_object* result) {
  struct vorlix_find_object find = {(uintptr_t)pc, result};
  return dl_iterate_phdr(vorlix_find_object_in, &find) ? 0 : -1;
}
