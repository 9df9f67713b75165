// Hand-over latency between two threads: a ping-pong over two kernel-kit
// semaphores (the frame ring's "VideoRead"/"VideoWrite" pattern) against the
// same ping-pong over C++20 binary semaphores and over a mutex with a
// condition variable, in the same run.
//
// usage: bench_semaphore [ROUNDS]   (default 200000 hand-overs each way)
#include "platform/kernel/OS.h"

#include "BenchTiming.h"

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <semaphore>
#include <thread>

namespace
{

using bench::Clock;
using bench::seconds_since;

struct kit_pair {
    sem_id ping = create_sem(0, "ping");
    sem_id pong = create_sem(0, "pong");
    long rounds;
};

int32 kit_echo(void* data)
{
    auto* pair = static_cast<kit_pair*>(data);
    for (long i = 0; i < pair->rounds; i++) {
        acquire_sem(pair->ping);
        release_sem(pair->pong);
    }
    return 0;
}

double run_kit(long rounds)
{
    kit_pair pair;
    pair.rounds = rounds;
    thread_id echo = spawn_thread(kit_echo, "echo", B_NORMAL_PRIORITY, &pair);
    resume_thread(echo);
    Clock::time_point start = Clock::now();
    for (long i = 0; i < rounds; i++) {
        release_sem(pair.ping);
        acquire_sem_etc(pair.pong, 1, B_RELATIVE_TIMEOUT, B_INFINITE_TIMEOUT);
    }
    double elapsed = seconds_since(start);
    wait_for_thread(echo, nullptr);
    delete_sem(pair.ping);
    delete_sem(pair.pong);
    return elapsed;
}

double run_std_semaphore(long rounds)
{
    std::binary_semaphore ping(0), pong(0);
    std::thread echo([&] {
        for (long i = 0; i < rounds; i++) {
            ping.acquire();
            pong.release();
        }
    });
    Clock::time_point start = Clock::now();
    for (long i = 0; i < rounds; i++) {
        ping.release();
        pong.acquire();
    }
    double elapsed = seconds_since(start);
    echo.join();
    return elapsed;
}

double run_condition_variable(long rounds)
{
    std::mutex lock;
    std::condition_variable changed;
    long turn = 0; // even: the main thread's, odd: the echo's
    std::thread echo([&] {
        for (long i = 0; i < rounds; i++) {
            std::unique_lock<std::mutex> locked(lock);
            changed.wait(locked, [&] { return turn % 2 == 1; });
            turn++;
            changed.notify_all();
        }
    });
    Clock::time_point start = Clock::now();
    for (long i = 0; i < rounds; i++) {
        std::unique_lock<std::mutex> locked(lock);
        turn++;
        changed.notify_all();
        changed.wait(locked, [&] { return turn % 2 == 0; });
    }
    double elapsed = seconds_since(start);
    echo.join();
    return elapsed;
}

} // namespace

int main(int argc, char** argv)
{
    long rounds = argc > 1 ? atol(argv[1]) : 200000;
    if (rounds <= 0) {
        fprintf(stderr, "usage: bench_semaphore [ROUNDS]\n");
        return 2;
    }
    // Best of three for each, interleaved so that load changes hit all alike.
    double kit = 1e9, binary = 1e9, condition = 1e9;
    for (int i = 0; i < 3; i++) {
        kit = std::min(kit, run_kit(rounds));
        binary = std::min(binary, run_std_semaphore(rounds));
        condition = std::min(condition, run_condition_variable(rounds));
    }
    printf("hand-overs:                  %ld round trips\n", rounds);
    printf("kernel kit semaphores:       %.3f s (%.2f us a round trip)\n", kit, kit * 1e6 / rounds);
    printf("std::binary_semaphore:       %.3f s\n", binary);
    printf("mutex + condition variable:  %.3f s\n", condition);
    printf("ratio kit / binary_semaphore: %.2f\n", kit / binary);
    printf("ratio kit / condition var:    %.2f\n", kit / condition);
    return 0;
}
