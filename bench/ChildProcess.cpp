#include "ChildProcess.h"

#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

double seconds(const timeval& time) {
    return static_cast<double>(time.tv_sec) + static_cast<double>(time.tv_usec) / 1e6;
}

} // namespace

ChildProcess::ChildProcess(const std::vector<std::string>& arguments) {
    std::vector<char*> argv;
    for (const auto& argument : arguments) {
        argv.push_back(const_cast<char*>(argument.c_str()));
    }
    argv.push_back(nullptr);
    if (posix_spawnp(&mPid, argv[0], nullptr, nullptr, argv.data(), environ) != 0) {
        std::fprintf(stderr, "cannot start %s\n", argv[0]);
        mPid = -1;
    }
}

ChildProcess::~ChildProcess() {
    if (mPid > 0) {
        kill(mPid, SIGTERM);
        wait();
    }
}

double ChildProcess::cpuSeconds() const {
    return mPid > 0 ? processCpuSeconds(mPid) : mTotal;
}

double ChildProcess::wait(int* status) {
    if (mPid > 0) {
        int result = 0;
        rusage usage{};
        wait4(mPid, &result, 0, &usage);
        mPid = -1;
        mTotal = seconds(usage.ru_utime) + seconds(usage.ru_stime);
        if (status) {
            *status = WIFEXITED(result) ? WEXITSTATUS(result) : -1;
        }
    }
    return mTotal;
}

double ChildProcess::interrupt(int* status) {
    if (mPid > 0) {
        kill(mPid, SIGINT);
    }
    return wait(status);
}

double ownCpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

// The first field of each thread's /proc/PID/task/TID/schedstat is the
// time it has run, in nanoseconds: finer than the clock ticks of
// /proc/PID/stat, which matters for a program using half a percent of a core.
double processCpuSeconds(pid_t pid) {
    std::error_code error;
    const std::filesystem::path tasks = "/proc/" + std::to_string(pid) + "/task";
    unsigned long long nanoseconds = 0;
    for (const auto& task : std::filesystem::directory_iterator(tasks, error)) {
        std::ifstream file(task.path() / "schedstat");
        unsigned long long running = 0;
        if (file >> running) {
            nanoseconds += running;
        }
    }
    return static_cast<double>(nanoseconds) / 1e9;
}
