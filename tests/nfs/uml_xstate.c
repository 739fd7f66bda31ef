/*
 * Preloaded into Debian's user-mode Linux kernel (the NFS suite's guest) so
 * that it runs on hosts with a larger register state than it knows (AVX-512,
 * AMX).  The kernel saves and restores its processes' registers with
 * PTRACE_GETREGSET / SETREGSET of NT_X86_XSTATE and a buffer of the size it
 * was built for; the host hands out a shorter state well, but takes only a
 * whole one back ("ptrace set fp regs failed, errno = 14", and the guest
 * panics at its first process).  Here a short state is set by reading the
 * whole one, laying the short one over its start and setting the whole:
 * what the kernel does not know of stays as it was in that process.
 */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <elf.h>
#include <stdarg.h>
#include <string.h>
#include <sys/ptrace.h>
#include <sys/types.h>
#include <sys/uio.h>

typedef long (*Ptrace)(int, pid_t, void*, void*);

long ptrace(enum __ptrace_request request, ...) {
    static Ptrace real;
    if (!real) real = (Ptrace)dlsym(RTLD_NEXT, "ptrace");
    va_list args;
    va_start(args, request);
    const pid_t pid = va_arg(args, pid_t);
    void* addr = va_arg(args, void*);
    void* data = va_arg(args, void*);
    va_end(args);
    struct iovec* given = data;
    if (request != PTRACE_SETREGSET || (long)addr != NT_X86_XSTATE || !given)
        return real(request, pid, addr, data);
    static _Alignas(64) unsigned char whole[65536];
    struct iovec all = {whole, sizeof whole};
    if (real(PTRACE_GETREGSET, pid, addr, &all) != 0 || given->iov_len >= all.iov_len)
        return real(request, pid, addr, data);
    memcpy(whole, given->iov_base, given->iov_len);
    return real(request, pid, addr, &all);
}
