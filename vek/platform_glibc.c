/* Linked into the Linux libzelJava_sh only, so that it loads on glibc 2.17
   (RHEL 7) and later although it is built against a newer glibc.  The C++
   runtime is linked in statically (-static-libstdc++), and it and our code
   reach a few glibc functions under versions newer than 2.17: each entry below
   gives the linker a definition of ours instead, hidden inside the library by
   bridge/exports.map.  cmake/check_so.sh fails the build when a newer version
   creeps back in, naming the symbol. */
#define _GNU_SOURCE
#include <errno.h>
#include <fcntl.h>
#include <pthread.h>
#include <stdint.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

/* stat, lstat and fstat became functions of their own in glibc 2.33 (before,
   the headers turned them into __xstat calls).  The kernel's struct stat of
   newfstatat and fstat is glibc's on x86-64 and aarch64; errno is set by
   syscall as glibc would set it. */
int stat(const char* path, struct stat* buf) {
    return (int)syscall(SYS_newfstatat, AT_FDCWD, path, buf, 0);
}

int lstat(const char* path, struct stat* buf) {
    return (int)syscall(SYS_newfstatat, AT_FDCWD, path, buf, AT_SYMLINK_NOFOLLOW);
}

int fstat(int fd, struct stat* buf) {
    return (int)syscall(SYS_fstat, fd, buf);
}

/* glibc 2.32 lets libstdc++ skip atomic reference counts while a process has
   one thread.  0 says "maybe several threads": always atomic, always right. */
char __libc_single_threaded = 0;

/* pthread_once moved from libpthread to libc in glibc 2.34 under a new
   version; the old one, which libpthread.so.0 gives on older systems (the
   build links libpthread.so.0 by name for it), is the same function. */
#if defined(__x86_64__)
#define ZEL_OLD_GLIBC "GLIBC_2.2.5"
#elif defined(__aarch64__)
#define ZEL_OLD_GLIBC "GLIBC_2.17"
#else
#error "the oldest glibc version of this architecture is not known here"
#endif
int zel_old_pthread_once(pthread_once_t* once, void (*init)(void));
__asm__(".symver zel_old_pthread_once, pthread_once@" ZEL_OLD_GLIBC);
int pthread_once(pthread_once_t* once, void (*init)(void)) {
    return zel_old_pthread_once(once, init);
}

/* std::random_device asks for getentropy (glibc 2.25) and arc4random (2.36):
   both from the getrandom system call (Linux 3.17), or /dev/urandom on the
   older kernels of RHEL 7. */
int getentropy(void* buf, size_t len) {
    if (len > 256) {
        errno = EIO;
        return -1;
    }
    char* out = buf;
    while (len > 0) {
        long got = syscall(SYS_getrandom, out, len, 0);
        if (got < 0 && errno == ENOSYS) {
            int fd = open("/dev/urandom", O_RDONLY | O_CLOEXEC);
            if (fd < 0) return -1;
            got = read(fd, out, len);
            close(fd);
        }
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) {
            if (got == 0) errno = EIO;
            return -1;
        }
        out += got;
        len -= (size_t)got;
    }
    return 0;
}

uint32_t arc4random(void) {
    uint32_t value;
    /* arc4random cannot fail; glibc's own aborts too when no randomness is left. */
    if (getentropy(&value, sizeof value) != 0) abort();
    return value;
}
