/*
 * Starts Debian's user-mode Linux kernel (the NFS suite's guest) so that it
 * runs on hosts whose processors have large register states (AMX): there
 * the host refuses the kernel's PTRACE_SETREGSET of the extended state (its
 * buffer is smaller than the host's state; "ptrace set fp regs failed,
 * errno = 14", and the guest panics at its first process).  A seccomp filter
 * answers the kernel's PTRACE_GETREGSET / SETREGSET of NT_X86_XSTATE with
 * EIO, so that at boot it finds them missing and saves the floating-point
 * registers as older hosts do (PTRACE_GETFPREGS: x87 and SSE).
 * Usage: uml_launch <linux.uml> <its arguments...>
 */
#include <errno.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <stddef.h>
#include <stdio.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <unistd.h>

int main(int argc, char** argv) {
    enum { kGetRegset = 0x4204, kSetRegset = 0x4205, kXstate = 0x202 };
    struct sock_filter filter[] = {
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(struct seccomp_data, nr)),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, __NR_ptrace, 0, 5),
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(struct seccomp_data, args[0])),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, kGetRegset, 1, 0),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, kSetRegset, 0, 2),
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(struct seccomp_data, args[2])),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, kXstate, 1, 0),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | EIO),
    };
    struct sock_fprog program = {sizeof filter / sizeof filter[0], filter};
    if (argc < 2) {
        fprintf(stderr, "usage: %s <linux.uml> <arguments...>\n", argv[0]);
        return 2;
    }
    if (prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0 || prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &program) != 0) {
        perror("uml_launch: seccomp");
        return 1;
    }
    execv(argv[1], argv + 1);
    perror("uml_launch: exec");
    return 1;
}
