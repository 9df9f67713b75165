// The player's thread owner: its wait must not return while the thread
// still runs, even for a caller that was killed (the player releases what
// the thread uses right after it).

#include "player/WorkerThread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

TEST(PlayerWorkerThread, JoinWaitsForTheEndEvenWhenTheCallerIsKilled)
{
    {
        CWorkerThread never;
        never.AskToEnd();
        never.Join();
        EXPECT_FALSE(never.Running());
    }

    std::atomic<bool> bodyStarted{false};
    std::atomic<bool> bodyEnded{false};
    std::atomic<bool> joinerReady{false};
    bool endedAtJoin = false;
    bool runningAfterJoins = true;
    CWorkerThread joiner;
    ASSERT_TRUE(joiner.Start("Joiner", [&] {
        CWorkerThread worker;
        worker.Start("Worker", [&] {
            bodyStarted = true;
            while (!has_kill_request())
                snooze(1000);
            // Work after the request to end that no kill cuts short, as
            // leaving module code is.
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            bodyEnded = true;
            return B_OK;
        });
        // A thread killed before its body began ends without running it.
        while (!bodyStarted)
            snooze(1000);
        joinerReady = true;
        while (!has_kill_request())
            snooze(1000);
        // Killed: every platform wait of this thread returns at once now.
        worker.AskToEnd();
        worker.Join();
        endedAtJoin = bodyEnded;
        worker.Join();
        runningAfterJoins = worker.Running();
        return B_OK;
    }));
    while (!joinerReady)
        snooze(1000);
    joiner.AskToEnd();
    joiner.Join();
    EXPECT_TRUE(endedAtJoin);
    EXPECT_FALSE(runningAfterJoins);
    EXPECT_FALSE(joiner.Running());
}
