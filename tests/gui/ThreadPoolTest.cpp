#include "gui/ThreadPool.h"

#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <vector>

#include "gui/Exception.h"

TEST(ThreadPool, ResultsAndFailuresComeBackThroughTheFuturesAndQueuedTasksRunBeforeItEnds) {
    std::atomic<int> ran{0};
    std::vector<std::future<int>> results;
    std::future<int> failing;
    {
        gui::ThreadPool pool(3);
        EXPECT_EQ(pool.Size(), 3u);
        for (int i = 0; i < 200; ++i)
            results.push_back(pool.Submit([i, &ran] {
                ++ran;
                return i * i;
            }));
        failing = pool.Submit([]() -> int { throw gui::EReadError("broken"); });
    }
    EXPECT_EQ(ran.load(), 200);
    for (int i = 0; i < 200; ++i) EXPECT_EQ(results[static_cast<size_t>(i)].get(), i * i);
    EXPECT_THROW(failing.get(), gui::EReadError);
    EXPECT_EQ(gui::ThreadPool(0).Size(), 1u);
    EXPECT_GE(gui::ThreadPool::MachineThreads(), 1u);
}
