// A fixed set of worker threads taking jobs in order; Stop lets the running jobs end.
#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace qumo_service {

class WorkQueue {
public:
    explicit WorkQueue(size_t threads) {
        for (size_t i = 0; i < threads; ++i)
            threads_.emplace_back([this] { Run(); });
    }
    ~WorkQueue() { Stop(); }
    WorkQueue(const WorkQueue&) = delete;
    WorkQueue& operator=(const WorkQueue&) = delete;

    void Push(std::function<void()> job) {
        {
            std::lock_guard<std::mutex> lock(mu_);
            jobs_.push_back(std::move(job));
        }
        cv_.notify_one();
    }
    // Jobs still waiting are run before the threads end (each ends quickly once stopping).
    void Stop() {
        {
            std::lock_guard<std::mutex> lock(mu_);
            stop_ = true;
        }
        cv_.notify_all();
        for (std::thread& t : threads_)
            if (t.joinable())
                t.join();
        threads_.clear();
    }

private:
    void Run() {
        for (;;) {
            std::function<void()> job;
            {
                std::unique_lock<std::mutex> lock(mu_);
                cv_.wait(lock, [this] { return stop_ || !jobs_.empty(); });
                if (jobs_.empty())
                    return;
                job = std::move(jobs_.front());
                jobs_.pop_front();
            }
            job();
        }
    }

    std::mutex mu_;
    std::condition_variable cv_;
    std::deque<std::function<void()>> jobs_;
    bool stop_ = false;
    std::vector<std::thread> threads_;
};

} // namespace qumo_service
