#include "host/HostFilter.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <seccomp.h>
#include <sys/ioctl.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <unistd.h>

#if defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define REELMOTH_SHADOW_MEMORY 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define REELMOTH_SHADOW_MEMORY 1
#endif

namespace
{

// With REELMOTH_DEBUG the call is named before the process ends, the same
// way: by SIGSYS.
void report_forbidden_call(int, siginfo_t* info, void*)
{
    char text[96];
    int length =
        snprintf(text, sizeof(text), "reelmoth-codec-host: forbidden system call %d; ending\n",
                 info->si_syscall);
    if (length > 0)
        (void)!write(STDERR_FILENO, text, size_t(length));
    signal(SIGSYS, SIG_DFL);
    raise(SIGSYS);
}

// One comparison of argument `index` (the library's macros leave fields out,
// which clang warns of).
scmp_arg_cmp argument(unsigned index, scmp_compare op, scmp_datum_t value, scmp_datum_t second = 0)
{
    scmp_arg_cmp compare{};
    compare.arg = index;
    compare.op = op;
    compare.datum_a = value;
    compare.datum_b = second;
    return compare;
}

} // namespace

void limit_codec_host()
{
    rlimit none = {0, 0};
    setrlimit(RLIMIT_CORE, &none);
    // Its three descriptors, the standard ones and the module files it is
    // given (discovery gives one host up to 64).
    rlimit files = {128, 128};
    setrlimit(RLIMIT_NOFILE, &files);
    // The 2 GiB module window, the rest of the low 4 GiB closed around it
    // (module_space_guard), the emulator's translation buffers and the
    // program's own: what a module makes beyond that is refused.
#ifndef REELMOTH_SHADOW_MEMORY
    // (Sanitizer builds reserve terabytes of shadow memory: none there.)
    rlim_t bytes = rlim_t(8) << 30;
    rlimit space = {bytes, bytes};
    setrlimit(RLIMIT_AS, &space);
#endif
}

bool install_codec_host_filter()
{
    bool debug = getenv("REELMOTH_DEBUG") != nullptr;
    if (debug) {
        struct sigaction action = {};
        action.sa_sigaction = report_forbidden_call;
        action.sa_flags = SA_SIGINFO;
        sigaction(SIGSYS, &action, nullptr);
    }
    scmp_filter_ctx filter = seccomp_init(debug ? SCMP_ACT_TRAP : SCMP_ACT_KILL_PROCESS);
    if (filter == nullptr)
        return false;
    static const int kAllowed[] = {
        // its socket, shared buffers and module descriptors
        SCMP_SYS(read),
        SCMP_SYS(write),
        SCMP_SYS(readv),
        SCMP_SYS(writev),
        SCMP_SYS(pread64),
        SCMP_SYS(lseek),
        SCMP_SYS(close),
        SCMP_SYS(fstat),
        SCMP_SYS(sendmsg),
        SCMP_SYS(recvmsg),
        SCMP_SYS(sendto),
        SCMP_SYS(recvfrom),
        SCMP_SYS(poll),
        SCMP_SYS(ppoll),
        // memory: the module window, heaps, stacks, translation buffers
        SCMP_SYS(mmap),
        SCMP_SYS(munmap),
        SCMP_SYS(mprotect),
        SCMP_SYS(mremap),
        SCMP_SYS(madvise),
        SCMP_SYS(brk),
        // threads and waits
        SCMP_SYS(futex),
        SCMP_SYS(clone),
        SCMP_SYS(clone3),
        SCMP_SYS(set_robust_list),
        SCMP_SYS(rseq),
        SCMP_SYS(exit),
        SCMP_SYS(exit_group),
        SCMP_SYS(gettid),
        SCMP_SYS(getpid),
        SCMP_SYS(sched_yield),
        SCMP_SYS(sched_getaffinity),
        SCMP_SYS(rt_sigaction),
        SCMP_SYS(rt_sigprocmask),
        SCMP_SYS(rt_sigreturn),
        SCMP_SYS(sigaltstack),
        SCMP_SYS(membarrier),
        // clocks and sleeps
        SCMP_SYS(clock_gettime),
        SCMP_SYS(clock_getres),
        SCMP_SYS(gettimeofday),
        SCMP_SYS(nanosleep),
        SCMP_SYS(clock_nanosleep),
        SCMP_SYS(getrandom),
        SCMP_SYS(sysinfo),
    };
    bool ok = true;
    for (int call : kAllowed)
        ok = ok && seccomp_rule_add(filter, SCMP_ACT_ALLOW, call, 0) == 0;
#ifdef REELMOTH_SHADOW_MEMORY
    // The sanitizers' own check of whether memory can be read (a pipe).
    static const int kSanitizer[] = {SCMP_SYS(pipe2)};
    for (int call : kSanitizer)
        ok = ok && seccomp_rule_add(filter, SCMP_ACT_ALLOW, call, 0) == 0;
#endif
    // Signals only to its own threads (raise, a thread's stop).
    ok = ok && seccomp_rule_add(filter, SCMP_ACT_ALLOW, SCMP_SYS(tgkill), 1,
                                argument(0, SCMP_CMP_EQ, scmp_datum_t(getpid()))) == 0;
    // fstat as the C library makes it (metadata only, no contents).
    ok = ok && seccomp_rule_add(filter, SCMP_ACT_ALLOW, SCMP_SYS(newfstatat), 1,
                                argument(3, SCMP_CMP_MASKED_EQ, AT_EMPTY_PATH, AT_EMPTY_PATH)) == 0;
    // Thread names, as the platform's threads keep them.
    ok = ok && seccomp_rule_add(filter, SCMP_ACT_ALLOW, SCMP_SYS(prctl), 1,
                                argument(0, SCMP_CMP_EQ, PR_GET_NAME)) == 0;
    ok = ok && seccomp_rule_add(filter, SCMP_ACT_ALLOW, SCMP_SYS(prctl), 1,
                                argument(0, SCMP_CMP_EQ, PR_SET_NAME)) == 0;
    // The C library asks whether standard output is a terminal on first use.
    ok = ok && seccomp_rule_add(filter, SCMP_ACT_ALLOW, SCMP_SYS(ioctl), 1,
                                argument(1, SCMP_CMP_EQ, TCGETS)) == 0;
    // Copies of module descriptors it was given.
    ok = ok && seccomp_rule_add(filter, SCMP_ACT_ALLOW, SCMP_SYS(fcntl), 1,
                                argument(1, SCMP_CMP_EQ, F_DUPFD_CLOEXEC)) == 0;
    ok = ok && seccomp_load(filter) == 0;
    seccomp_release(filter);
    return ok;
}
