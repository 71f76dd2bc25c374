// Times program starts on Windows (run here under Wine, which then does not count its own
// start of this driver): each run is CreateProcessA up to WaitForSingleObject seeing the
// program end, on QueryPerformanceCounter. Variants are interleaved run by run (the first one
// of each round rotates).
//
//   bench_win_timer [-n RUNS] [-w WARMUP] [-s SAMPLES_FILE] VARIANTS_FILE
//
// VARIANTS_FILE: one line per variant, "<label>\t<command line>". Prints one summary line per
// variant in milliseconds (see stats.h).
//
// The driver puts itself into a job, which every process it starts, and theirs, joins: a run
// is over for the next one only when the job holds the driver alone again, so that the
// launcher's monitor, which ends after the launcher, does not overlap the next run.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "stats.h"

namespace {

double frequency = 1;

double nowMs() {
    LARGE_INTEGER counter;
    QueryPerformanceCounter(&counter);
    return static_cast<double>(counter.QuadPart) * 1e3 / frequency;
}

HANDLE job = nullptr;

// Waits until the job holds no process but the driver (at most 10 s); without a job, a
// fixed pause stands in.
void waitForLeftovers() {
    if (job == nullptr) {
        Sleep(100);
        return;
    }
    const double deadline = nowMs() + 10000;
    for (;;) {
        JOBOBJECT_BASIC_ACCOUNTING_INFORMATION info{};
        if (!QueryInformationJobObject(job, JobObjectBasicAccountingInformation, &info,
                                       sizeof(info), nullptr)) {
            Sleep(100);
            return;
        }
        if (info.ActiveProcesses <= 1) {
            return;
        }
        if (nowMs() > deadline) {
            std::fprintf(stderr, "bench_win_timer: a left-over process does not end\n");
            return;
        }
        Sleep(1);
    }
}

double timeOneStart(const std::string& commandLine) {
    std::vector<char> line(commandLine.begin(), commandLine.end());
    line.push_back('\0');
    STARTUPINFOA startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info{};
    const double start = nowMs();
    if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &info)) {
        std::fprintf(stderr, "bench_win_timer: cannot start %s: error %lu\n", commandLine.c_str(),
                     GetLastError());
        std::exit(1);
    }
    WaitForSingleObject(info.hProcess, INFINITE);
    const double elapsed = nowMs() - start;
    DWORD code = 0;
    GetExitCodeProcess(info.hProcess, &code);
    CloseHandle(info.hThread);
    CloseHandle(info.hProcess);
    if (code != 0) {
        std::fprintf(stderr, "bench_win_timer: %s ended with code %lu\n", commandLine.c_str(),
                     code);
        std::exit(1);
    }
    waitForLeftovers();
    return elapsed;
}

} // namespace

int main(int argc, char** argv) {
    int runs = 30;
    int warmup = 3;
    const char* samplesPath = nullptr;
    const char* variantsPath = nullptr;
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        if (i + 1 < argc && argument == "-n") {
            runs = std::atoi(argv[++i]);
        } else if (i + 1 < argc && argument == "-w") {
            warmup = std::atoi(argv[++i]);
        } else if (i + 1 < argc && argument == "-s") {
            samplesPath = argv[++i];
        } else if (variantsPath == nullptr) {
            variantsPath = argv[i];
        } else {
            variantsPath = nullptr;
            break;
        }
    }
    if (variantsPath == nullptr) {
        std::fprintf(stderr, "usage: bench_win_timer [-n RUNS] [-w WARMUP] [-s SAMPLES] FILE\n");
        return 2;
    }
    const std::vector<bench::Variant> variants = bench::readVariants(variantsPath);
    if (variants.empty()) {
        std::fprintf(stderr, "bench_win_timer: no variants in %s\n", variantsPath);
        return 2;
    }
    LARGE_INTEGER ticks;
    QueryPerformanceFrequency(&ticks);
    frequency = static_cast<double>(ticks.QuadPart);
    job = CreateJobObjectA(nullptr, nullptr);
    if (job != nullptr && !AssignProcessToJobObject(job, GetCurrentProcess())) {
        std::fprintf(stderr, "bench_win_timer: no job (error %lu); pausing between runs\n",
                     GetLastError());
        CloseHandle(job);
        job = nullptr;
    }

    std::vector<std::vector<double>> samples(variants.size());
    const std::size_t count = variants.size();
    for (int round = -warmup; round < runs; ++round) {
        const std::size_t first = static_cast<std::size_t>(round + warmup) % count;
        for (std::size_t i = 0; i < count; ++i) {
            const std::size_t v = (first + i) % count;
            const double elapsed = timeOneStart(variants[v].rest);
            if (round >= 0) {
                samples[v].push_back(elapsed);
            }
        }
    }
    for (std::size_t v = 0; v < count; ++v) {
        bench::printSummary(variants[v].label, bench::summarize(samples[v]));
    }
    bench::writeSamples(samplesPath, variants, samples);
    return 0;
}
