// A fixed set of worker threads that run the tasks handed to them, oldest first.
#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <thread>
#include <type_traits>
#include <vector>

namespace gui {

class ThreadPool {
public:
    // At least one worker.
    explicit ThreadPool(unsigned threads);
    // Drops the tasks still waiting (their futures report a broken promise), then joins the
    // workers once the tasks they are running have returned: a load that is given up must not
    // first do the rest of its work.
    ~ThreadPool();
    ThreadPool(const ThreadPool&) = delete;
    ThreadPool& operator=(const ThreadPool&) = delete;

    // The machine's hardware threads (at least 1).
    static unsigned MachineThreads();
    unsigned Size() const { return static_cast<unsigned>(workers_.size()); }

    // Queues `task`; its result (or the exception it raised) arrives through the future.
    template <class F>
    std::future<std::invoke_result_t<F>> Submit(F task) {
        auto packaged = std::make_shared<std::packaged_task<std::invoke_result_t<F>()>>(std::move(task));
        std::future<std::invoke_result_t<F>> result = packaged->get_future();
        Enqueue([packaged] { (*packaged)(); });
        return result;
    }

private:
    void Enqueue(std::function<void()> task);
    void Work();

    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<std::function<void()>> tasks_;
    bool stopping_ = false;
    std::vector<std::thread> workers_;
};

}  // namespace gui
