// Measures the peak resident set (VmHWM in /proc/<pid>/status) of the launcher, of its
// monitor and of the VM on Linux, while the VM runs (a stand-in that stays for a while, or a
// real one doing real work): the three processes are looked at every 2 ms until each has
// ended. VmHWM only grows, so the last value read is the peak up to a moment just before the
// end.
//
//   bench_rss_probe [-n RUNS] [-t SECONDS] [-d DUMP_DIR] LAUNCHER [ARGUMENTS...]
//
// Prints "launcher ...", "monitor ..." and "vm ..." summary lines in KiB (see stats.h). A run
// that lasts longer than -t seconds (10) is an error. With -d, the first run also leaves the
// launcher's and the monitor's smaps and status, taken 200 ms into the run, in DUMP_DIR.
#include <dirent.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "stats.h"

extern char** environ;

namespace {

double nowMs() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<double>(now.tv_sec) * 1e3 + static_cast<double>(now.tv_nsec) / 1e6;
}

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// VmHWM in KiB, or -1 when the process is gone (or a zombie, which has no memory left).
long peakResidentKiB(pid_t pid) {
    const std::string status = readFile("/proc/" + std::to_string(pid) + "/status");
    const std::size_t at = status.find("VmHWM:");
    if (at == std::string::npos) {
        return -1;
    }
    return std::strtol(status.c_str() + at + 6, nullptr, 10);
}

pid_t parentOf(pid_t pid) {
    const std::string status = readFile("/proc/" + std::to_string(pid) + "/status");
    const std::size_t at = status.find("PPid:");
    return at == std::string::npos
               ? -1
               : static_cast<pid_t>(std::strtol(status.c_str() + at + 5, nullptr, 10));
}

std::string nameOf(pid_t pid) {
    std::string name = readFile("/proc/" + std::to_string(pid) + "/comm");
    while (!name.empty() && name.back() == '\n') {
        name.pop_back();
    }
    return name;
}

// The name the kernel gives a process after the exec of `path`: its last part, cut to 15 bytes.
std::string execName(const std::string& path) {
    return path.substr(path.rfind('/') + 1).substr(0, 15);
}

// What a child of the launcher is. It starts as a copy of the launcher under the launcher's
// name; the monitor then names itself as the launcher with "-mon" added, and the VM's exec
// names it after its program. Until then it is neither.
enum class Child { Unknown, Monitor, Vm };

Child kindOf(pid_t child, const std::string& launcherName) {
    const std::string name = nameOf(child);
    if (name.size() > 4 && name.compare(name.size() - 4, 4, "-mon") == 0) {
        return Child::Monitor;
    }
    return name.empty() || name == launcherName ? Child::Unknown : Child::Vm;
}

// The children of every thread of the process (each thread lists only its own children).
std::vector<pid_t> childrenOf(pid_t pid) {
    std::vector<pid_t> children;
    const std::string tasks = "/proc/" + std::to_string(pid) + "/task";
    bool listed = false;
    if (DIR* dir = opendir(tasks.c_str())) {
        while (dirent* entry = readdir(dir)) {
            if (entry->d_name[0] == '.') {
                continue;
            }
            std::ifstream in(tasks + "/" + entry->d_name + "/children");
            if (!in) {
                continue;
            }
            listed = true;
            long child = 0;
            while (in >> child) {
                children.push_back(static_cast<pid_t>(child));
            }
        }
        closedir(dir);
    }
    if (listed) {
        return children;
    }
    // Kernels without the children file: every process's parent.
    if (DIR* proc = opendir("/proc")) {
        while (dirent* entry = readdir(proc)) {
            const pid_t candidate = static_cast<pid_t>(std::atol(entry->d_name));
            if (candidate > 0 && parentOf(candidate) == pid) {
                children.push_back(candidate);
            }
        }
        closedir(proc);
    }
    return children;
}

void copyFile(const std::string& from, const std::string& to) {
    std::ofstream(to, std::ios::binary) << readFile(from);
}

void dumpProcess(pid_t pid, const std::string& directory, const std::string& name) {
    const std::string proc = "/proc/" + std::to_string(pid);
    copyFile(proc + "/smaps", directory + "/" + name + ".smaps");
    copyFile(proc + "/status", directory + "/" + name + ".status");
}

bool ended(pid_t pid) {
    int status = 0;
    const pid_t result = waitpid(pid, &status, WNOHANG);
    if (result == pid) {
        if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
            std::fprintf(stderr, "bench_rss_probe: process %d ended with status %d\n",
                         static_cast<int>(pid), status);
        }
        return true;
    }
    return result < 0 && errno == ECHILD;
}

struct Peaks {
    long launcher = -1;
    long monitor = -1;
    long vm = -1;
};

// Sets `monitor` and `vm` to the launcher's children of that kind, where one is seen.
void findChildren(pid_t launcher, const std::string& launcherName, pid_t& monitor, pid_t& vm) {
    for (pid_t child : childrenOf(launcher)) {
        const Child kind = kindOf(child, launcherName);
        if (kind == Child::Monitor) {
            monitor = child;
        } else if (kind == Child::Vm) {
            vm = child;
        }
    }
}

// Keeps the higher of a peak read so far and the one read now (-1: the process is gone).
void keepPeak(long& peak, pid_t pid) {
    peak = std::max(peak, peakResidentKiB(pid));
}

Peaks measureOnce(char** argv, const posix_spawn_file_actions_t& actions, const char* dumpDir,
                  double timeoutMs) {
    Peaks peaks;
    pid_t launcher = 0;
    const int error = posix_spawn(&launcher, argv[0], &actions, nullptr, argv, environ);
    if (error != 0) {
        std::fprintf(stderr, "bench_rss_probe: cannot start %s: %s\n", argv[0],
                     std::strerror(error));
        std::exit(1);
    }
    const double start = nowMs();
    const std::string launcherName = execName(argv[0]);
    pid_t monitor = -1;
    pid_t vm = -1;
    bool launcherEnded = false;
    bool monitorEnded = false;
    bool dumped = dumpDir == nullptr;
    while (!launcherEnded || !monitorEnded) {
        if (!launcherEnded) {
            keepPeak(peaks.launcher, launcher);
            if (monitor < 0 || vm < 0) {
                findChildren(launcher, launcherName, monitor, vm);
            }
            if (vm > 0) {
                keepPeak(peaks.vm, vm);
            }
        }
        if (monitor > 0 && !monitorEnded) {
            keepPeak(peaks.monitor, monitor);
        }
        if (!dumped && monitor > 0 && nowMs() - start >= 200) {
            dumpProcess(launcher, dumpDir, "launcher");
            dumpProcess(monitor, dumpDir, "monitor");
            dumped = true;
        }
        if (!launcherEnded && ended(launcher)) {
            launcherEnded = true;
            if (monitor < 0) {
                std::fprintf(stderr, "bench_rss_probe: no monitor was seen\n");
                std::exit(1);
            }
        }
        // Once the launcher has ended, its monitor is this subreaper's child.
        if (launcherEnded && !monitorEnded && ended(monitor)) {
            monitorEnded = true;
        }
        if (nowMs() - start > timeoutMs) {
            std::fprintf(stderr, "bench_rss_probe: the launcher or its monitor does not end\n");
            std::exit(1);
        }
        usleep(2000);
    }
    while (waitpid(-1, nullptr, WNOHANG) > 0) {
    }
    return peaks;
}

} // namespace

int main(int argc, char** argv) {
    int runs = 30;
    double timeoutMs = 10000;
    const char* dumpDir = nullptr;
    int option = 0;
    while ((option = getopt(argc, argv, "+n:t:d:")) != -1) {
        switch (option) {
        case 'n':
            runs = std::atoi(optarg);
            break;
        case 't':
            timeoutMs = std::atof(optarg) * 1000;
            break;
        case 'd':
            dumpDir = optarg;
            break;
        default:
            return 2;
        }
    }
    if (optind >= argc) {
        std::fprintf(stderr,
                     "usage: bench_rss_probe [-n RUNS] [-t SECONDS] [-d DIR] LAUNCHER [ARGS...]\n");
        return 2;
    }
    prctl(PR_SET_CHILD_SUBREAPER, 1);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);

    std::vector<double> launcher;
    std::vector<double> monitor;
    std::vector<double> vm;
    for (int run = 0; run < runs; ++run) {
        const Peaks peaks =
            measureOnce(argv + optind, actions, run == 0 ? dumpDir : nullptr, timeoutMs);
        launcher.push_back(static_cast<double>(peaks.launcher));
        monitor.push_back(static_cast<double>(peaks.monitor));
        vm.push_back(static_cast<double>(peaks.vm));
    }
    posix_spawn_file_actions_destroy(&actions);
    bench::printSummary("launcher", bench::summarize(launcher));
    bench::printSummary("monitor", bench::summarize(monitor));
    bench::printSummary("vm", bench::summarize(vm));
    return 0;
}
