// Times program starts on Linux: each run is posix_spawn up to the waitpid that sees the
// program end, on the monotonic clock. Variants are interleaved run by run (the first one of
// each round rotates), so that drift in the machine's load affects them alike.
//
//   bench_spawn_timer [-n RUNS] [-w WARMUP] [-s SAMPLES_FILE] VARIANTS_FILE
//
// VARIANTS_FILE: one line per variant, "<label>\t<argv0>\t<argv1>...". Standard input,
// output and error of the programs are /dev/null. Prints one summary line per variant in
// milliseconds (see stats.h).
//
// The driver is a child subreaper: processes the program leaves behind (the launcher's
// monitor) become its children, and a run is over for the next one only when they have
// ended too, so that no run overlaps the previous one's remains.
#include <fcntl.h>
#include <spawn.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
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

std::vector<std::string> splitTabs(const std::string& text) {
    std::vector<std::string> words;
    std::size_t start = 0;
    for (;;) {
        const std::size_t tab = text.find('\t', start);
        words.push_back(text.substr(start, tab - start));
        if (tab == std::string::npos) {
            return words;
        }
        start = tab + 1;
    }
}

// Waits for every remaining descendant to end (at most 10 s).
void reapLeftovers() {
    const double deadline = nowMs() + 10000;
    for (;;) {
        const pid_t pid = waitpid(-1, nullptr, WNOHANG);
        if (pid > 0) {
            continue;
        }
        if (pid < 0 && errno == ECHILD) {
            return;
        }
        if (nowMs() > deadline) {
            std::fprintf(stderr, "bench_spawn_timer: a left-over process does not end\n");
            return;
        }
        usleep(200);
    }
}

struct Program {
    std::vector<std::string> words;
    std::vector<char*> argv;
};

double timeOneStart(Program& program, const posix_spawn_file_actions_t& actions) {
    pid_t pid = 0;
    const double start = nowMs();
    const int error =
        posix_spawn(&pid, program.argv[0], &actions, nullptr, program.argv.data(), environ);
    if (error != 0) {
        std::fprintf(stderr, "bench_spawn_timer: cannot start %s: %s\n", program.argv[0],
                     std::strerror(error));
        std::exit(1);
    }
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    const double elapsed = nowMs() - start;
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        std::fprintf(stderr, "bench_spawn_timer: %s ended with status %d\n", program.argv[0],
                     status);
        std::exit(1);
    }
    reapLeftovers();
    return elapsed;
}

} // namespace

int main(int argc, char** argv) {
    int runs = 30;
    int warmup = 5;
    const char* samplesPath = nullptr;
    int option = 0;
    while ((option = getopt(argc, argv, "n:w:s:")) != -1) {
        switch (option) {
        case 'n':
            runs = std::atoi(optarg);
            break;
        case 'w':
            warmup = std::atoi(optarg);
            break;
        case 's':
            samplesPath = optarg;
            break;
        default:
            return 2;
        }
    }
    if (optind + 1 != argc) {
        std::fprintf(stderr, "usage: bench_spawn_timer [-n RUNS] [-w WARMUP] [-s SAMPLES] FILE\n");
        return 2;
    }
    const std::vector<bench::Variant> variants = bench::readVariants(argv[optind]);
    if (variants.empty()) {
        std::fprintf(stderr, "bench_spawn_timer: no variants in %s\n", argv[optind]);
        return 2;
    }
    prctl(PR_SET_CHILD_SUBREAPER, 1);

    std::vector<Program> programs(variants.size());
    for (std::size_t v = 0; v < variants.size(); ++v) {
        programs[v].words = splitTabs(variants[v].rest);
        for (std::string& word : programs[v].words) {
            programs[v].argv.push_back(word.data());
        }
        programs[v].argv.push_back(nullptr);
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);

    std::vector<std::vector<double>> samples(variants.size());
    const std::size_t count = variants.size();
    for (int round = -warmup; round < runs; ++round) {
        const std::size_t first = static_cast<std::size_t>(round + warmup) % count;
        for (std::size_t i = 0; i < count; ++i) {
            const std::size_t v = (first + i) % count;
            const double elapsed = timeOneStart(programs[v], actions);
            if (round >= 0) {
                samples[v].push_back(elapsed);
            }
        }
    }
    posix_spawn_file_actions_destroy(&actions);
    for (std::size_t v = 0; v < count; ++v) {
        bench::printSummary(variants[v].label, bench::summarize(samples[v]));
    }
    bench::writeSamples(samplesPath, variants, samples);
    return 0;
}
