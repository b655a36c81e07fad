#include "gui/ThreadPool.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <stdexcept>
#include <thread>
#include <vector>

#include "gui/Exception.h"

TEST(ThreadPool, ResultsAndFailuresComeBackThroughTheFutures) {
    std::atomic<int> ran{0};
    gui::ThreadPool pool(3);
    EXPECT_EQ(pool.Size(), 3u);
    std::vector<std::future<int>> results;
    for (int i = 0; i < 200; ++i)
        results.push_back(pool.Submit([i, &ran] {
            ++ran;
            return i * i;
        }));
    std::future<int> failing = pool.Submit([]() -> int { throw gui::EReadError("broken"); });
    for (int i = 0; i < 200; ++i) EXPECT_EQ(results[static_cast<size_t>(i)].get(), i * i);
    EXPECT_EQ(ran.load(), 200);
    EXPECT_THROW(failing.get(), gui::EReadError);
    EXPECT_EQ(gui::ThreadPool(0).Size(), 1u);
    EXPECT_GE(gui::ThreadPool::MachineThreads(), 1u);
}

// A pool that ends drops the work still queued and waits only for the task that is running.
TEST(ThreadPool, EndingDropsTheQueuedTasks) {
    auto pool = std::make_unique<gui::ThreadPool>(1);
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    std::promise<void> started;
    std::future<void> running = pool->Submit([&started, released] {
        started.set_value();
        released.wait();
    });
    started.get_future().wait();
    std::atomic<int> ran{0};
    std::vector<std::future<void>> queued;
    for (int i = 0; i < 50; ++i) queued.push_back(pool->Submit([&ran] { ++ran; }));

    std::thread ending([&pool] { pool.reset(); });
    // The queued tasks' futures are ready as soon as the pool has dropped them, while the running
    // task still holds its worker.
    const bool dropped = queued.back().wait_for(std::chrono::seconds(30)) == std::future_status::ready;
    release.set_value();
    ending.join();
    EXPECT_TRUE(dropped);
    EXPECT_EQ(ran.load(), 0);
    EXPECT_NO_THROW(running.get());
    for (std::future<void>& task : queued) {
        try {
            task.get();
            ADD_FAILURE() << "a queued task ran";
        } catch (const std::future_error& e) {
            EXPECT_EQ(e.code(), std::future_errc::broken_promise);
        }
    }
}
