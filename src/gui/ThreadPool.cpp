#include "gui/ThreadPool.h"

#include <algorithm>

namespace gui {

ThreadPool::ThreadPool(unsigned threads) {
    threads = std::max(threads, 1u);
    workers_.reserve(threads);
    for (unsigned i = 0; i < threads; ++i) workers_.emplace_back([this] { Work(); });
}

ThreadPool::~ThreadPool() {
    std::deque<std::function<void()>> dropped;
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
        dropped.swap(tasks_);
    }
    wake_.notify_all();
    // Outside the lock: destroying a task destroys what it holds.
    dropped.clear();
    for (std::thread& worker : workers_) worker.join();
}

unsigned ThreadPool::MachineThreads() { return std::max(std::thread::hardware_concurrency(), 1u); }

void ThreadPool::Enqueue(std::function<void()> task) {
    {
        std::lock_guard lock(mutex_);
        tasks_.push_back(std::move(task));
    }
    wake_.notify_one();
}

void ThreadPool::Work() {
    for (;;) {
        std::function<void()> task;
        {
            std::unique_lock lock(mutex_);
            wake_.wait(lock, [this] { return stopping_ || !tasks_.empty(); });
            if (stopping_) return;
            task = std::move(tasks_.front());
            tasks_.pop_front();
        }
        task();
    }
}

}  // namespace gui
