#pragma once

#include <string>
#include <sys/types.h>
#include <vector>

// A reference program (ffmpeg, pacat) run beside the benchmark, whose CPU
// time can be read while it runs and when it has ended.
class ChildProcess {
public:
    explicit ChildProcess(const std::vector<std::string>& arguments);
    ~ChildProcess(); // ends the program if it still runs
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    bool started() const { return mPid > 0; }
    // CPU seconds of its threads so far (while it runs).
    double cpuSeconds() const;
    // Waits for the end; returns the CPU seconds it used in all, and sets
    // `status` to its exit status (-1 when it did not exit normally).
    double wait(int* status = nullptr);
    // Asks it to end (SIGINT, as Ctrl-C would) and waits.
    double interrupt(int* status = nullptr);

private:
    pid_t mPid = -1;
    double mTotal = 0;
};

// Our own process's user and system CPU seconds so far.
double ownCpuSeconds();
// The CPU seconds the living threads of process `pid` have run so far.
double processCpuSeconds(pid_t pid);
