#pragma once

#include <functional>

// The process-wide queue of work for the main thread. The engine posts its
// notices here from any thread. An application with an event loop installs a
// dispatcher that hands each job to that loop; without one, jobs wait until
// the main thread pumps the queue.
class MainQueue {
public:
    using Job = std::function<void()>;

    // Thread-safe; never runs the job on the calling thread.
    static void post(Job job);
    // Hands every later job (and any already waiting) to `dispatcher`;
    // an empty dispatcher returns to pumping.
    static void setDispatcher(std::function<void(Job)> dispatcher);

    // Runs the jobs waiting now (and any they post). Returns how many ran.
    static int runPending();
    // Waits up to `seconds` for a job, then runs what is waiting. Returns how
    // many ran.
    static int runPendingFor(double seconds);
};
