// Times programs from their start to the moment they report their window
// shown (a line on standard output), taking turns between them run after run
// so that a machine that speeds up or slows down affects every program alike.
// Prints one line per program: the median time to shown, the median time to
// the process's end and the median CPU time (user + system), in milliseconds.
// Usage: ntpsm-startup-timer RUNS PROGRAM [ARGS...] [-- PROGRAM [ARGS...]]...
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <spawn.h>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace
{

struct Times {
    std::vector<double> shown, ended, cpu;
};

double nowMs()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return double(now.tv_sec) * 1e3 + double(now.tv_nsec) / 1e6;
}

double cpuMs(const rusage& usage)
{
    const auto ms = [](const timeval& t) {
        return double(t.tv_sec) * 1e3 + double(t.tv_usec) / 1e3;
    };
    return ms(usage.ru_utime) + ms(usage.ru_stime);
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    const size_t middle = values.size() / 2;
    return values.size() % 2 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

[[noreturn]] void fail(const std::string& what)
{
    std::fprintf(stderr, "ntpsm-startup-timer: %s: %s\n", what.c_str(), std::strerror(errno));
    std::exit(1);
}

// Runs `argv` once; false when it failed or never reported its window shown.
bool runOnce(char** argv, Times* times)
{
    int pipeEnds[2];
    if (pipe(pipeEnds) != 0)
        fail("pipe");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeEnds[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, pipeEnds[0]);
    pid_t child = 0;
    const double start = nowMs();
    const int spawned = posix_spawn(&child, argv[0], &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    close(pipeEnds[1]);
    if (spawned != 0) {
        errno = spawned;
        fail(argv[0]);
    }
    char report[64];
    const ssize_t got = read(pipeEnds[0], report, sizeof report);
    const double shown = nowMs();
    close(pipeEnds[0]);
    int status = 0;
    rusage usage{};
    if (wait4(child, &status, 0, &usage) < 0)
        fail("wait4");
    if (got <= 0 || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return false;
    times->shown.push_back(shown - start);
    times->ended.push_back(nowMs() - start);
    times->cpu.push_back(cpuMs(usage));
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 3 || std::atoi(argv[1]) < 1) {
        std::fprintf(stderr, "usage: ntpsm-startup-timer RUNS PROGRAM [ARGS...] [-- PROGRAM...]\n");
        return 2;
    }
    const int runs = std::atoi(argv[1]);
    std::vector<char**> programs{argv + 2};
    for (int i = 2; i < argc; ++i) {
        if (std::strcmp(argv[i], "--") == 0) {
            argv[i] = nullptr; // ends the previous program's arguments
            programs.push_back(argv + i + 1);
        }
    }
    std::vector<Times> times(programs.size());
    const int warmups = 3;
    for (int run = 0; run < warmups + runs; ++run) {
        for (size_t p = 0; p < programs.size(); ++p) {
            Times scratch;
            if (!runOnce(programs[p], run < warmups ? &scratch : &times[p])) {
                std::fprintf(stderr, "ntpsm-startup-timer: %s failed\n", programs[p][0]);
                return 1;
            }
        }
    }
    for (const Times& t : times)
        std::printf("%.1f %.1f %.1f\n", median(t.shown), median(t.ended), median(t.cpu));
    return 0;
}
