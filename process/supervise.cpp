#include "process/supervise.h"

#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <limits>

namespace {

// Start failures are reported on standard output, unlike configuration errors.
[[noreturn]] void failStart(const std::string& what, unsigned long code,
                            const std::string& insert) {
    const std::string message =
        "\nCannot execute " + what + " : " + platform::errorText(code, insert);
    std::fwrite(message.data(), 1, message.size(), stdout);
    std::fflush(stdout);
    std::exit(1);
}

void watcherThread(void* watch) {
    watchMonitor(*static_cast<const MonitorWatch*>(watch));
}

// Handles travel as 32-bit numbers. Windows keeps handle values within 32 bits, sign-extended,
// so that 32- and 64-bit processes can share them; a pidfd always fits.
std::string handleText(platform::ProcessHandle handle) {
    return std::to_string(static_cast<std::int32_t>(handle.value()));
}

} // namespace

std::string monitorCommandLine(const std::string& launcherName, platform::ProcessHandle launcher,
                               platform::ProcessHandle vm) {
    return quoteProgramNameIfNeeded(launcherName) + " -monitor " + handleText(launcher) + ' ' +
           handleText(vm);
}

std::optional<platform::ProcessHandle> parseHandleText(std::string_view text) {
    std::size_t position = 0;
    while (position < text.size() && std::isspace(static_cast<unsigned char>(text[position]))) {
        ++position;
    }
    bool negative = false;
    if (position < text.size() && (text[position] == '-' || text[position] == '+')) {
        negative = text[position] == '-';
        ++position;
    }
    if (position == text.size()) {
        return std::nullopt;
    }
    constexpr std::int64_t kLimit = std::int64_t{std::numeric_limits<std::int32_t>::max()} + 1;
    std::int64_t magnitude = 0;
    for (; position < text.size(); ++position) {
        const char c = text[position];
        if (c < '0' || c > '9') {
            return std::nullopt;
        }
        magnitude = magnitude * 10 + (c - '0');
        if (magnitude > kLimit) {
            return std::nullopt;
        }
    }
    const std::int64_t value = negative ? -magnitude : magnitude;
    if (value > std::numeric_limits<std::int32_t>::max()) {
        return std::nullopt;
    }
    return platform::ProcessHandle(static_cast<std::intptr_t>(value));
}

int runSupervised(ArgumentList arguments, const std::string& launcherName) {
    const std::string commandLine = joinCommandLine(arguments);
    const platform::StartResult vm = platform::startVm(commandLine);
    if (!vm.started) {
        failStart("java virtual machine", vm.error, arguments.front());
    }
    const platform::ProcessHandle launcher = platform::openOwnProcess();
    const platform::StartResult monitor =
        platform::startMonitor(monitorCommandLine(launcherName, launcher, vm.process));
    if (!monitor.started) {
        platform::terminate(vm.process);
        failStart("process monitor", monitor.error, launcherName);
    }
    // Lives until the process ends, as the watcher may run until then.
    static MonitorWatch watch;
    watch = MonitorWatch{monitor.process, vm.process};
    platform::startThread(watcherThread, &watch);
    platform::waitForExit(vm.process);
    return platform::exitCodeOf(vm.process);
}

void watchMonitor(const MonitorWatch& watch) {
    platform::waitForExit(watch.monitor);
    platform::terminate(watch.vm);
}

void runMonitor(const std::string& launcherHandleText, const std::string& vmHandleText) {
    const std::optional<platform::ProcessHandle> launcher = parseHandleText(launcherHandleText);
    const std::optional<platform::ProcessHandle> vm = parseHandleText(vmHandleText);
    if (!launcher || !vm) {
        return;
    }
    platform::waitForExit(*launcher);
    platform::terminate(*vm);
}
