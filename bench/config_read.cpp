// Times ToolConfig::load, the launcher's reading of morle_tool.cfg, on generated files.
//
//   bench_config_read [-n RUNS] [-b BUDGET_SECONDS] LABEL=DIRECTORY...
//
// Each DIRECTORY holds a morle_tool.cfg. Every file is read once before timing, so the page
// cache is warm; then the files are loaded in turn, run by run (the first one of each round
// rotates). Prints one summary line per file in milliseconds (see stats.h). Rounds stop
// early, after at least one, when the budget is used up; the printed run count tells.
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "config/tool_config.h"
#include "stats.h"

namespace {

double nowMs() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<double>(now.tv_sec) * 1e3 + static_cast<double>(now.tv_nsec) / 1e6;
}

void readThrough(const std::string& path) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) {
        std::fprintf(stderr, "bench_config_read: cannot open %s\n", path.c_str());
        std::exit(1);
    }
    static char block[1 << 16];
    while (std::fread(block, 1, sizeof block, file) == sizeof block) {
    }
    std::fclose(file);
}

std::size_t sink = 0;

double timeOneLoad(const std::string& directory) {
    const double start = nowMs();
    {
        ToolConfig config;
        // As the launcher passes it: the directory with its trailing separator.
        config.load(directory + '/');
        sink += config.classPath().size() + config.version().size();
    }
    return nowMs() - start;
}

} // namespace

int main(int argc, char** argv) {
    int runs = 30;
    double budgetMs = 240e3;
    int option = 0;
    while ((option = getopt(argc, argv, "n:b:")) != -1) {
        switch (option) {
        case 'n':
            runs = std::atoi(optarg);
            break;
        case 'b':
            budgetMs = std::atof(optarg) * 1e3;
            break;
        default:
            return 2;
        }
    }
    std::vector<bench::Variant> files;
    for (int i = optind; i < argc; ++i) {
        const std::string argument = argv[i];
        const std::size_t equals = argument.find('=');
        if (equals == std::string::npos) {
            std::fprintf(stderr, "bench_config_read: LABEL=DIRECTORY expected: %s\n", argv[i]);
            return 2;
        }
        files.push_back({argument.substr(0, equals), argument.substr(equals + 1)});
    }
    if (files.empty()) {
        std::fprintf(stderr, "usage: bench_config_read [-n RUNS] [-b SECONDS] LABEL=DIR...\n");
        return 2;
    }
    for (const bench::Variant& file : files) {
        readThrough(file.rest + '/' + ToolConfig::kFileName);
    }
    std::vector<std::vector<double>> samples(files.size());
    const double start = nowMs();
    for (int round = 0; round < runs; ++round) {
        for (std::size_t i = 0; i < files.size(); ++i) {
            const std::size_t f = (static_cast<std::size_t>(round) + i) % files.size();
            samples[f].push_back(timeOneLoad(files[f].rest));
        }
        if (nowMs() - start > budgetMs) {
            std::fprintf(stderr, "bench_config_read: time budget used up after %d rounds\n",
                         round + 1);
            break;
        }
    }
    for (std::size_t f = 0; f < files.size(); ++f) {
        bench::printSummary(files[f].label, bench::summarize(samples[f]));
    }
    return sink == 0 ? 1 : 0;
}
