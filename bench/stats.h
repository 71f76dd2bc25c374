// Summaries of repeated measurements and the variant lists the timing drivers read.
#pragma once

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

namespace bench {

struct Summary {
    std::size_t runs = 0;
    double median = 0;
    double min = 0;
    double max = 0;
};

inline Summary summarize(std::vector<double> samples) {
    Summary summary;
    summary.runs = samples.size();
    if (samples.empty()) {
        return summary;
    }
    std::sort(samples.begin(), samples.end());
    const std::size_t middle = samples.size() / 2;
    summary.median =
        samples.size() % 2 != 0 ? samples[middle] : (samples[middle - 1] + samples[middle]) / 2;
    summary.min = samples.front();
    summary.max = samples.back();
    return summary;
}

// The line every bench program prints per variant, read by bench/run:
// "<label> <runs> <median> <min> <max>".
inline void printSummary(const std::string& label, const Summary& summary) {
    std::printf("%s %zu %.4f %.4f %.4f\n", label.c_str(), summary.runs, summary.median, summary.min,
                summary.max);
}

// One variant per line: its label, a tab, then the rest of the line (for the Linux driver
// the argv words separated by tabs, for the Windows driver the command line).
struct Variant {
    std::string label;
    std::string rest;
};

inline std::vector<Variant> readVariants(const char* path) {
    std::vector<Variant> variants;
    std::ifstream in(path, std::ios::binary);
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        const std::size_t tab = line.find('\t');
        if (line.empty() || tab == std::string::npos) {
            continue;
        }
        variants.push_back({line.substr(0, tab), line.substr(tab + 1)});
    }
    return variants;
}

// Writes every sample as "<round> <label> <value>", for a later look at drift and outliers.
inline void writeSamples(const char* path, const std::vector<Variant>& variants,
                         const std::vector<std::vector<double>>& samples) {
    if (path == nullptr) {
        return;
    }
    if (std::FILE* file = std::fopen(path, "w")) {
        for (std::size_t v = 0; v < variants.size(); ++v) {
            for (std::size_t round = 0; round < samples[v].size(); ++round) {
                std::fprintf(file, "%zu %s %.6f\n", round, variants[v].label.c_str(),
                             samples[v][round]);
            }
        }
        std::fclose(file);
    }
}

} // namespace bench
