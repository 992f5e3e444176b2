#include "platform/audio/MainQueue.h"

#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>

namespace {

struct State {
    std::mutex mutex;
    std::condition_variable posted;
    std::deque<MainQueue::Job> jobs;
    std::function<void(MainQueue::Job)> dispatcher;
};

State& state() {
    static State* shared = new State; // lives until the process ends
    return *shared;
}

} // namespace

void MainQueue::post(Job job) {
    State& s = state();
    std::unique_lock lock(s.mutex);
    if (s.dispatcher) {
        auto dispatcher = s.dispatcher;
        lock.unlock();
        dispatcher(std::move(job));
        return;
    }
    s.jobs.push_back(std::move(job));
    lock.unlock();
    s.posted.notify_all();
}

void MainQueue::setDispatcher(std::function<void(Job)> dispatcher) {
    State& s = state();
    std::deque<Job> waiting;
    {
        std::lock_guard lock(s.mutex);
        s.dispatcher = std::move(dispatcher);
        if (s.dispatcher) {
            waiting.swap(s.jobs);
        }
    }
    for (auto& job : waiting) {
        s.dispatcher(std::move(job));
    }
}

int MainQueue::runPending() {
    State& s = state();
    int ran = 0;
    for (;;) {
        Job job;
        {
            std::lock_guard lock(s.mutex);
            if (s.jobs.empty()) {
                return ran;
            }
            job = std::move(s.jobs.front());
            s.jobs.pop_front();
        }
        job();
        ++ran;
    }
}

int MainQueue::runPendingFor(double seconds) {
    State& s = state();
    {
        std::unique_lock lock(s.mutex);
        s.posted.wait_for(lock, std::chrono::duration<double>(seconds),
                          [&] { return !s.jobs.empty(); });
    }
    return runPending();
}
