#include "platform/audio/SerialQueue.h"

#include <pthread.h>

SerialQueue::SerialQueue(std::string name) : mName(std::move(name)) {
    mThread = std::thread([this] { run(); });
}

SerialQueue::~SerialQueue() {
    {
        std::lock_guard lock(mMutex);
        mStopping = true;
    }
    mCondition.notify_all();
    if (mThread.joinable()) {
        if (isCurrentThread()) {
            mThread.detach();
        } else {
            mThread.join();
        }
    }
}

void SerialQueue::post(Job job) {
    {
        std::lock_guard lock(mMutex);
        mJobs.push_back(std::move(job));
    }
    mCondition.notify_one();
}

void SerialQueue::sync(const Job& job) {
    if (isCurrentThread()) {
        job();
        return;
    }
    std::mutex doneMutex;
    std::condition_variable doneCondition;
    bool done = false;
    post([&] {
        job();
        std::lock_guard lock(doneMutex);
        done = true;
        doneCondition.notify_one();
    });
    std::unique_lock lock(doneMutex);
    doneCondition.wait(lock, [&] { return done; });
}

void SerialQueue::run() {
    pthread_setname_np(pthread_self(), mName.substr(0, 15).c_str());
    std::unique_lock lock(mMutex);
    for (;;) {
        mCondition.wait(lock, [this] { return mStopping || !mJobs.empty(); });
        if (mJobs.empty()) {
            return; // stopping with nothing left
        }
        Job job = std::move(mJobs.front());
        mJobs.pop_front();
        lock.unlock();
        job();
        lock.lock();
    }
}
