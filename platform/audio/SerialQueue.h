#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

// Runs posted jobs one after another, in order, on a thread of its own.
class SerialQueue {
public:
    using Job = std::function<void()>;

    explicit SerialQueue(std::string name);
    // Runs the jobs already posted, then stops the thread.
    ~SerialQueue();
    SerialQueue(const SerialQueue&) = delete;
    SerialQueue& operator=(const SerialQueue&) = delete;

    void post(Job job);
    // Posts `job` and waits until it has run. Runs it at once when called on
    // the queue's own thread.
    void sync(const Job& job);
    bool isCurrentThread() const { return std::this_thread::get_id() == mThread.get_id(); }

private:
    void run();

    std::string mName;
    std::mutex mMutex;
    std::condition_variable mCondition;
    std::deque<Job> mJobs;
    bool mStopping = false;
    std::thread mThread;
};
