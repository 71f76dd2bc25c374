#include "launcher_run_posix.h"

#include <fcntl.h>
#include <grp.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <sstream>

#include "test_support.h"

extern char** environ;

namespace launcher_run {

namespace fs = std::filesystem;

namespace {

void install(const std::string& from, const std::string& to) {
    fs::copy_file(from, to, fs::copy_options::overwrite_existing);
    fs::permissions(to, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                            fs::perms::others_read | fs::perms::others_exec);
}

std::vector<char*> pointersTo(const std::vector<std::string>& words) {
    std::vector<char*> pointers;
    for (const std::string& word : words) {
        pointers.push_back(const_cast<char*>(word.c_str()));
    }
    pointers.push_back(nullptr);
    return pointers;
}

} // namespace

bool withoutPidfds() {
    return std::getenv("SE_TEST_WITHOUT_PIDFDS") != nullptr;
}

bool waitUntil(const std::function<bool()>& condition, Millis limit) {
    return testing_support::pollFor(limit, 2ms, condition);
}

std::string procPath(pid_t pid, const std::string& entry) {
    return "/proc/" + std::to_string(pid) + "/" + entry;
}

std::optional<ProcessStat> statOf(pid_t pid) {
    const std::string text = readFile(procPath(pid, "stat"));
    // The command name in parentheses may hold anything; the fields follow the last ')'.
    const std::size_t nameEnd = text.rfind(')');
    if (nameEnd == std::string::npos) {
        return std::nullopt;
    }
    std::istringstream fields(text.substr(nameEnd + 1));
    ProcessStat stat;
    pid_t group = 0;
    fields >> stat.state >> stat.parent >> group >> stat.session;
    std::string skipped;
    for (int field = 7; field < 22; ++field) {
        fields >> skipped;
    }
    fields >> stat.startTime;
    if (!fields) {
        return std::nullopt;
    }
    return stat;
}

std::optional<ProcessRef> refOf(pid_t pid) {
    const std::optional<ProcessStat> stat = statOf(pid);
    if (!stat) {
        return std::nullopt;
    }
    return ProcessRef{pid, stat->startTime};
}

bool isRunning(const ProcessRef& process) {
    const std::optional<ProcessStat> stat = statOf(process.pid);
    return stat && stat->startTime == process.startTime && stat->state != 'Z' && stat->state != 'X';
}

bool endsWithin(const ProcessRef& process, Millis limit) {
    return waitUntil([&] { return !isRunning(process); }, limit);
}

namespace {

std::vector<std::string> rawCommandLineOf(pid_t pid) {
    const std::string text = readFile(procPath(pid, "cmdline"));
    std::vector<std::string> words;
    std::size_t start = 0;
    while (start < text.size()) {
        const std::size_t end = text.find('\0', start);
        words.push_back(text.substr(start, end - start));
        start = end == std::string::npos ? text.size() : end + 1;
    }
    return words;
}

bool runsInTheEmulator(pid_t pid) {
    if (!testing_support::underUserModeEmulation()) {
        return false;
    }
    static const std::string emulator = fs::canonical(testing_support::userModeEmulator());
    return linkTarget(procPath(pid, "exe")) == emulator;
}

} // namespace

std::string executableOf(pid_t pid) {
    if (!runsInTheEmulator(pid)) {
        return linkTarget(procPath(pid, "exe"));
    }
    // The path exec was given, which the kernel's own link shows resolved.
    const std::vector<std::string> words = rawCommandLineOf(pid);
    if (words.size() < 2) {
        return std::string();
    }
    fs::path program = words[1];
    if (program.is_relative()) {
        program = fs::path(linkTarget(procPath(pid, "cwd"))) / program;
    }
    std::error_code error;
    const fs::path resolved = fs::canonical(program, error);
    return error ? program.string() : resolved.string();
}

std::vector<std::string> commandLineOf(pid_t pid) {
    std::vector<std::string> words = rawCommandLineOf(pid);
    if (runsInTheEmulator(pid)) {
        words.erase(words.begin(), words.begin() + std::min<std::size_t>(2, words.size()));
    }
    return words;
}

unsigned long long ignoredSignalsOf(pid_t pid) {
    std::istringstream lines(readFile(procPath(pid, "status")));
    std::string line;
    while (std::getline(lines, line)) {
        if (line.rfind("SigIgn:", 0) == 0) {
            return std::stoull(line.substr(7), nullptr, 16);
        }
    }
    return 0;
}

std::string linkTarget(const std::string& path) {
    std::error_code error;
    const fs::path target = fs::read_symlink(path, error);
    return error ? std::string() : target.string();
}

std::vector<pid_t> allProcessIds() {
    std::vector<pid_t> ids;
    std::error_code error;
    for (const fs::directory_entry& entry : fs::directory_iterator("/proc", error)) {
        const std::string name = entry.path().filename().string();
        if (!name.empty() && name.find_first_not_of("0123456789") == std::string::npos) {
            ids.push_back(static_cast<pid_t>(std::stol(name)));
        }
    }
    return ids;
}

std::vector<ProcessRef> processesRunningFrom(const std::string& directory) {
    std::vector<ProcessRef> found;
    for (const pid_t pid : allProcessIds()) {
        if (executableOf(pid).rfind(directory, 0) == 0) {
            if (const std::optional<ProcessRef> process = refOf(pid)) {
                found.push_back(*process);
            }
        }
    }
    return found;
}

std::string processNameOf(pid_t pid) {
    std::string name = readFile(procPath(pid, "comm"));
    if (!name.empty() && name.back() == '\n') {
        name.pop_back();
    }
    return name;
}

bool isMonitorName(const std::string& name) {
    return name.size() > 4 && name.compare(name.size() - 4, 4, "-mon") == 0;
}

std::optional<ProcessRef> monitorOf(pid_t launcher) {
    for (const pid_t pid : allProcessIds()) {
        const std::optional<ProcessStat> stat = statOf(pid);
        if (stat && stat->parent == launcher && stat->state != 'Z' &&
            isMonitorName(processNameOf(pid))) {
            return ProcessRef{pid, stat->startTime};
        }
    }
    return std::nullopt;
}

std::optional<ProcessRef> waitForMonitor(pid_t launcher) {
    std::optional<ProcessRef> monitor;
    waitUntil([&] { return (monitor = monitorOf(launcher)).has_value(); }, kStartLimit);
    return monitor;
}

bool isPidfdLink(const std::string& target) {
    return target == "anon_inode:[pidfd]" || target.rfind("pidfd:", 0) == 0;
}

pid_t pidNamedBy(pid_t holder, const std::string& fd) {
    std::istringstream lines(readFile(procPath(holder, "fdinfo/" + fd)));
    std::string line;
    while (std::getline(lines, line)) {
        if (line.rfind("Pid:", 0) == 0) {
            return static_cast<pid_t>(std::stol(line.substr(4)));
        }
    }
    return 0;
}

std::map<int, std::string> descriptorsOf(pid_t pid) {
    std::map<int, std::string> descriptors;
    std::error_code error;
    for (const fs::directory_entry& entry : fs::directory_iterator(procPath(pid, "fd"), error)) {
        descriptors[std::stoi(entry.path().filename().string())] =
            linkTarget(entry.path().string());
    }
    return descriptors;
}

Installation::Installation(const std::string& label, const std::string& identity)
    : identity_(identity), dir_(testing_support::makeTempDir(label)) {
    install(testing_support::launcherBuildPath(identity), launcher());
    fs::create_directories(jdk() + "/bin");
    install(testing_support::buildPath(SE_STAND_IN_VM_PATH), java());
    writeConfig({"JDK_HOME=" + jdk()});
}

Installation::~Installation() {
    // A leftover may still be starting another: repeat until none is left.
    waitUntil(
        [&] {
            const std::vector<ProcessRef> leftovers = processesRunningFrom(dir_);
            for (const ProcessRef& process : leftovers) {
                kill(process.pid, SIGKILL);
            }
            return leftovers.empty();
        },
        kStartLimit);
    std::error_code error;
    fs::remove_all(dir_, error);
}

void Installation::writeConfigInto(const std::string& directory,
                                   const std::vector<std::string>& lines) {
    std::string content;
    for (const std::string& line : lines) {
        content += line + "\n";
    }
    testing_support::writeFile(directory + "morle_tool.cfg", content);
}

std::string Installation::makeSubdir(const std::string& name) const {
    fs::create_directories(path(name));
    return path(name) + "/";
}

void PrintTo(const Outcome& outcome, std::ostream* out) {
    *out << (outcome.exited ? "exit code " : "killed by signal ") << outcome.value;
}

int highDescriptor(int fd) {
    const int moved = fcntl(fd, F_DUPFD_CLOEXEC, 10);
    close(fd);
    return moved;
}

LauncherRun::LauncherRun(const Installation& installation, const Launch& launch)
    : installation_(installation), ownGroup_(launch.ownProcessGroup || launch.terminal) {
    fs::remove(recordFile());
    fs::remove(pidFile());
    fs::remove(releaseFile());
    std::string program = launch.program.empty() ? installation.launcher() : launch.program;
    std::vector<std::string> argv{launch.argv0.empty() ? program : launch.argv0};
    argv.insert(argv.end(), launch.args.begin(), launch.args.end());
    std::vector<std::string> limits = launch.limits;
    if (withoutPidfds()) {
        limits.insert(limits.begin(), "--without-pidfds");
    }
    if (!limits.empty()) {
        limits.insert(limits.begin(), SE_EXEC_LIMITED_PATH);
        limits.push_back(program);
        argv.insert(argv.begin(), limits.begin(), limits.end());
        program = SE_EXEC_LIMITED_PATH;
    }
    std::string terminalName;
    if (launch.terminal) {
        terminal_ = highDescriptor(posix_openpt(O_RDWR | O_NOCTTY));
        if (terminal_ < 0 || grantpt(terminal_) != 0 || unlockpt(terminal_) != 0) {
            ADD_FAILURE() << "cannot make a pseudo-terminal: " << std::strerror(errno);
        } else {
            terminalName = ptsname(terminal_);
        }
    }
    const std::vector<std::string> environment = environmentFor(launch);
    std::vector<char*> argvPointers = pointersTo(argv);
    std::vector<char*> environmentPointers = pointersTo(environment);

    const int out = highDescriptor(open(outFile().c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644));
    const int err = highDescriptor(open(errFile().c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644));
    int input = -1;
    if (launch.input == Input::OpenPipe) {
        int ends[2];
        if (pipe(ends) == 0) {
            input = highDescriptor(ends[0]);
            pipeWriteEnd_ = highDescriptor(ends[1]);
        }
    } else {
        input = highDescriptor(open("/dev/null", O_RDONLY));
    }
    if (out < 0 || err < 0 || input < 0) {
        ADD_FAILURE() << "cannot prepare the launcher's standard streams";
    }

    // Signals wait until the child has set their actions: one sent to it before that (an
    // interrupt to its new process group, say) would otherwise meet the test's own actions,
    // which may ignore it.
    sigset_t all;
    sigset_t previous;
    sigfillset(&all);
    sigprocmask(SIG_SETMASK, &all, &previous);
    pid_ = fork();
    if (pid_ == 0) {
        // Only async-signal-safe calls between fork and exec.
        if (launch.terminal) {
            // A session leader's first terminal becomes its controlling terminal.
            setsid();
            const int fd = open(terminalName.c_str(), O_RDWR);
            if (fd < 0 || ioctl(fd, TIOCSCTTY, 0) != 0) {
                _exit(126);
            }
            close(fd);
        } else if (launch.ownProcessGroup) {
            setpgid(0, 0);
        }
        dup2(input, STDIN_FILENO);
        dup2(out, STDOUT_FILENO);
        dup2(err, STDERR_FILENO);
        // Everything else of the test's is closed by the exec; a descriptor dup2 makes is
        // inherited.
        close_range(3, ~0U, CLOSE_RANGE_CLOEXEC);
        for (const auto& [number, fd] : launch.passedDescriptors) {
            dup2(fd, number);
        }
        if (launch.input == Input::Closed) {
            close(STDIN_FILENO);
        }
        for (const int fd : launch.closedStreams) {
            close(fd);
        }
        for (const int number : {SIGINT, SIGQUIT, SIGTERM, SIGHUP, SIGCHLD}) {
            signal(number, SIG_DFL);
        }
        if (launch.ignoreChildSignal) {
            signal(SIGCHLD, SIG_IGN);
        }
        for (const int number : launch.ignoredSignals) {
            signal(number, SIG_IGN);
        }
        sigset_t none;
        sigemptyset(&none);
        sigprocmask(SIG_SETMASK, &none, nullptr);
        const struct rlimit addressSpace { launch.addressSpaceLimit, launch.addressSpaceLimit };
        if (launch.addressSpaceLimit != 0 && setrlimit(RLIMIT_AS, &addressSpace) != 0) {
            _exit(126);
        }
        if (!launch.cwd.empty() && chdir(launch.cwd.c_str()) != 0) {
            _exit(126);
        }
        constexpr uid_t kNobody = 65534;
        if (launch.unprivileged && geteuid() == 0 &&
            (setgroups(0, nullptr) != 0 || setgid(kNobody) != 0 || setuid(kNobody) != 0)) {
            _exit(kCannotDropPrivileges);
        }
        // execvp looks the program up on the PATH of the environment it passes on.
        environ = environmentPointers.data();
        execvp(program.c_str(), argvPointers.data());
        _exit(127);
    }
    sigprocmask(SIG_SETMASK, &previous, nullptr);
    if (launch.ownProcessGroup && !launch.terminal && pid_ > 0) {
        setpgid(pid_, pid_); // also from here, so the group exists before fork returns
    }
    close(out);
    close(err);
    close(input);
    if (pid_ < 0) {
        ADD_FAILURE() << "fork failed: " << std::strerror(errno);
    }
}

LauncherRun::~LauncherRun() {
    if (pid_ > 0 && !outcome_) {
        kill(ownGroup_ ? -pid_ : pid_, SIGKILL);
        int status = 0;
        while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
        }
    }
    if (pipeWriteEnd_ >= 0) {
        close(pipeWriteEnd_);
    }
    if (terminal_ >= 0) {
        close(terminal_);
    }
}

void LauncherRun::type(const std::string& keys) const {
    if (write(terminal_, keys.data(), keys.size()) != static_cast<ssize_t>(keys.size())) {
        ADD_FAILURE() << "cannot type on the launcher's terminal: " << std::strerror(errno);
    }
}

void LauncherRun::hangUp() {
    close(terminal_);
    terminal_ = -1;
}

std::optional<Outcome> LauncherRun::waitFor(Millis limit) {
    waitUntil(
        [&] {
            int status = 0;
            if (outcome_ || waitpid(pid_, &status, WNOHANG) != pid_) {
                return outcome_.has_value();
            }
            outcome_ = WIFEXITED(status) ? Outcome::exitCode(WEXITSTATUS(status))
                                         : Outcome::signal(WTERMSIG(status));
            return true;
        },
        limit);
    return outcome_;
}

Outcome LauncherRun::finish(Millis limit) {
    const std::optional<Outcome> outcome = waitFor(limit);
    if (!outcome) {
        ADD_FAILURE() << "the launcher did not end within " << limit.count() << " ms";
        return Outcome::exitCode(-1);
    }
    return *outcome;
}

bool LauncherRun::vmRan() const {
    return fs::exists(recordFile());
}

std::vector<std::string> LauncherRun::vmArgv() const {
    std::vector<std::string> entries = testing_support::parseRecord(readFile(recordFile()));
    if (!entries.empty()) {
        entries.erase(entries.begin());
    }
    return entries;
}

std::optional<ProcessRef> LauncherRun::waitForVm() const {
    std::optional<ProcessRef> vm;
    waitUntil(
        [&] {
            const std::string text = readFile(pidFile());
            if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos) {
                return false;
            }
            const auto pid = static_cast<pid_t>(std::stol(text));
            if (executableOf(pid) != installation_.java()) {
                return false;
            }
            vm = refOf(pid);
            return vm.has_value();
        },
        kStartLimit);
    return vm;
}

void LauncherRun::releaseVm() const {
    testing_support::writeFile(releaseFile(), "");
}

std::vector<std::string> LauncherRun::environmentFor(const Launch& launch) const {
    std::map<std::string, std::string> variables;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        const std::string text = *entry;
        const std::size_t equals = text.find('=');
        if (equals != std::string::npos && text.rfind("STAND_IN_", 0) != 0) {
            variables[text.substr(0, equals)] = text.substr(equals + 1);
        }
    }
    if (launch.path) {
        variables["PATH"] = *launch.path;
    }
    variables["STAND_IN_RECORD"] = recordFile();
    variables["STAND_IN_PID_FILE"] = pidFile();
    if (launch.holdVm) {
        variables["STAND_IN_RELEASE"] = releaseFile();
    }
    for (const auto& [name, value] : launch.env) {
        variables[name] = value;
    }
    std::vector<std::string> environment;
    for (const auto& [name, value] : variables) {
        environment.push_back(name + "=" + value);
    }
    return environment;
}

} // namespace launcher_run
