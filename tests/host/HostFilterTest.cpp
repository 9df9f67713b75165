// The codec host's wall: after the filter is set, what the emulator and the
// replacements need still works, and anything else ends the process by
// SIGSYS, in whichever thread tries it.
#include "host/HostFilter.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <ctime>
#include <fcntl.h>
#include <functional>
#include <sys/mman.h>
#include <sys/ptrace.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace
{

// Runs `body` in a child with the filter set; its wait status.
int filtered(const std::function<void()>& body)
{
    pid_t child = fork();
    if (child == 0) {
        unsetenv("REELMOTH_DEBUG");
        limit_codec_host();
        if (!install_codec_host_filter())
            _exit(3);
        body();
        _exit(0);
    }
    int status = 0;
    waitpid(child, &status, 0);
    return status;
}

bool ended_by_filter(int status)
{
    return WIFSIGNALED(status) && WTERMSIG(status) == SIGSYS;
}

} // namespace

TEST(HostFilter, WhatTheHostNeedsWorksAndAnythingElseEndsIt)
{
    int status = filtered([] {
        void* memory = mmap(nullptr, 1 << 20, PROT_READ | PROT_WRITE,
                            MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
        if (memory == MAP_FAILED || mprotect(memory, 4096, PROT_READ) != 0 ||
            munmap(memory, 1 << 20) != 0)
            _exit(4);
        // Threads, their locks and waits, clocks and sleeps.
        int value = 0;
        std::thread([&value] { value = 1; }).join();
        timespec now;
        clock_gettime(CLOCK_MONOTONIC, &now);
        usleep(1000);
        char text[] = "x";
        if (value != 1 || write(STDERR_FILENO, text, 0) != 0)
            _exit(5);
    });
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;

    EXPECT_TRUE(ended_by_filter(filtered([] { open("/etc/passwd", O_RDONLY); })));
    EXPECT_TRUE(ended_by_filter(filtered([] { socket(AF_INET, SOCK_STREAM, 0); })));
    EXPECT_TRUE(ended_by_filter(filtered([] { ptrace(PTRACE_TRACEME, 0, nullptr, nullptr); })));
    EXPECT_TRUE(ended_by_filter(filtered([] {
        char* argv[] = {const_cast<char*>("/bin/true"), nullptr};
        execv("/bin/true", argv);
    })));
    // A thread started before or after the filter is held by it too.
    EXPECT_TRUE(ended_by_filter(
        filtered([] { std::thread([] { open("/etc/passwd", O_RDONLY); }).join(); })));
}
