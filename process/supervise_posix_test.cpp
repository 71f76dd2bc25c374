// End-to-end tests of supervision on Linux: the built launcher, installed with its
// configuration in a fresh directory, runs as a real process with the stand-in VM as
// <JDK_HOME>/bin/java. Every wait has a time limit, and every process a test starts is ended
// when the test ends.
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "test_support.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Millis = std::chrono::milliseconds;

// How long a launcher may take for a run whose VM does not sleep.
constexpr Millis kRunLimit = 10s;
// How long the VM and the monitor may outlive the process whose end should end them.
constexpr Millis kEndLimit = 1s;
// How long the launcher may take to start the VM and the monitor.
constexpr Millis kStartLimit = 5s;
// How long the stand-in sleeps when a test ends it from outside.
constexpr const char* kLongSleepMs = "30000";

constexpr const char* kEntryClass = "fenmoor.zandrel.se.java.toJava.Main";

// Calls `condition` every few milliseconds until it holds or `limit` has passed.
bool waitUntil(const std::function<bool()>& condition, Millis limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= deadline) {
            return condition();
        }
        std::this_thread::sleep_for(2ms);
    }
    return true;
}

// ---- Looking at processes through /proc ----

std::string readWhole(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream content;
    if (in) {
        content << in.rdbuf();
    }
    return content.str();
}

std::string procPath(pid_t pid, const std::string& entry) {
    return "/proc/" + std::to_string(pid) + "/" + entry;
}

struct ProcessStat {
    char state = '?';
    pid_t parent = 0;
    pid_t session = 0;
    unsigned long long startTime = 0;
};

std::optional<ProcessStat> statOf(pid_t pid) {
    const std::string text = readWhole(procPath(pid, "stat"));
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

// A process named by its id and its start time, so that a reused id does not count.
struct ProcessRef {
    pid_t pid = 0;
    unsigned long long startTime = 0;
};

std::optional<ProcessRef> refOf(pid_t pid) {
    const std::optional<ProcessStat> stat = statOf(pid);
    if (!stat) {
        return std::nullopt;
    }
    return ProcessRef{pid, stat->startTime};
}

// Running, not a zombie: an orphan that has ended may stay a zombie where nobody reaps it.
bool isRunning(const ProcessRef& process) {
    const std::optional<ProcessStat> stat = statOf(process.pid);
    return stat && stat->startTime == process.startTime && stat->state != 'Z' && stat->state != 'X';
}

bool endsWithin(const ProcessRef& process, Millis limit) {
    return waitUntil([&] { return !isRunning(process); }, limit);
}

std::vector<std::string> commandLineOf(pid_t pid) {
    const std::string text = readWhole(procPath(pid, "cmdline"));
    std::vector<std::string> words;
    std::size_t start = 0;
    while (start < text.size()) {
        const std::size_t end = text.find('\0', start);
        words.push_back(text.substr(start, end - start));
        start = end == std::string::npos ? text.size() : end + 1;
    }
    return words;
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

// The live processes whose executable lies under `directory` (zombies have none).
std::vector<ProcessRef> processesRunningFrom(const std::string& directory) {
    std::vector<ProcessRef> found;
    for (const pid_t pid : allProcessIds()) {
        if (linkTarget(procPath(pid, "exe")).rfind(directory, 0) == 0) {
            if (const std::optional<ProcessRef> process = refOf(pid)) {
                found.push_back(*process);
            }
        }
    }
    return found;
}

// The monitor of a launcher: its child running as "<name> -monitor <handle> <handle>".
std::optional<ProcessRef> monitorOf(pid_t launcher) {
    for (const pid_t pid : allProcessIds()) {
        const std::optional<ProcessStat> stat = statOf(pid);
        if (stat && stat->parent == launcher && stat->state != 'Z') {
            const std::vector<std::string> words = commandLineOf(pid);
            if (words.size() == 4 && words[1] == "-monitor") {
                return ProcessRef{pid, stat->startTime};
            }
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

// The process a pidfd held by `holder` names, from the descriptor's "Pid:" line.
pid_t pidNamedBy(pid_t holder, const std::string& fd) {
    std::istringstream lines(readWhole(procPath(holder, "fdinfo/" + fd)));
    std::string line;
    while (std::getline(lines, line)) {
        if (line.rfind("Pid:", 0) == 0) {
            return static_cast<pid_t>(std::stol(line.substr(4)));
        }
    }
    return 0;
}

// Descriptor number -> what it refers to, for a running process.
std::map<int, std::string> descriptorsOf(pid_t pid) {
    std::map<int, std::string> descriptors;
    std::error_code error;
    for (const fs::directory_entry& entry : fs::directory_iterator(procPath(pid, "fd"), error)) {
        descriptors[std::stoi(entry.path().filename().string())] =
            linkTarget(entry.path().string());
    }
    return descriptors;
}

// ---- The installation and the launcher run ----

// The entries of a stand-in record, "<byte count> <bytes>\n" each: the raw command line,
// then argv[0], argv[1], ...
std::vector<std::string> parseRecord(const std::string& text) {
    std::vector<std::string> entries;
    std::size_t position = 0;
    while (position < text.size()) {
        const std::size_t space = text.find(' ', position);
        if (space == std::string::npos) {
            ADD_FAILURE() << "malformed record: " << text;
            break;
        }
        const std::size_t length = std::stoul(text.substr(position, space - position));
        entries.push_back(text.substr(space + 1, length));
        position = space + 1 + length + 1;
    }
    return entries;
}

// A launcher installed in a fresh temporary directory: se_javac, morle_tool.cfg and
// jdk/bin/java (the stand-in VM). Ends every process still running from the directory, then
// removes it.
class Installation {
  public:
    explicit Installation(const std::string& label = "e2e")
        : dir_(testing_support::makeTempDir(label)) {
        install(testing_support::buildPath(SE_LAUNCHER_PATH), launcher());
        fs::create_directories(jdk() + "/bin");
        install(testing_support::buildPath(SE_STAND_IN_VM_PATH), java());
        writeConfig({"JDK_HOME=" + jdk()});
    }
    ~Installation() {
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
    Installation(const Installation&) = delete;
    Installation& operator=(const Installation&) = delete;

    // The directory, ending in '/'.
    const std::string& dir() const { return dir_; }
    std::string path(const std::string& name) const { return dir_ + name; }
    std::string launcher() const { return path("se_javac"); }
    std::string jdk() const { return path("jdk"); }
    std::string java() const { return jdk() + "/bin/java"; }

    void writeConfig(const std::vector<std::string>& lines) const { writeConfigInto(dir_, lines); }
    static void writeConfigInto(const std::string& directory,
                                const std::vector<std::string>& lines) {
        std::string content;
        for (const std::string& line : lines) {
            content += line + "\n";
        }
        testing_support::writeFile(directory + "morle_tool.cfg", content);
    }
    // A new, empty directory inside the installation, ending in '/'.
    std::string makeSubdir(const std::string& name) const {
        fs::create_directories(path(name));
        return path(name) + "/";
    }

  private:
    static void install(const std::string& from, const std::string& to) {
        fs::copy_file(from, to, fs::copy_options::overwrite_existing);
        fs::permissions(to, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                                fs::perms::others_read | fs::perms::others_exec);
    }

    std::string dir_;
};

// How a process ended: its exit code, or the signal that killed it.
struct Outcome {
    bool exited = false;
    int value = 0;
    static Outcome exitCode(int code) { return {true, code}; }
    static Outcome signal(int number) { return {false, number}; }
    bool operator==(const Outcome& other) const {
        return exited == other.exited && value == other.value;
    }
};

void PrintTo(const Outcome& outcome, std::ostream* out) {
    *out << (outcome.exited ? "exit code " : "killed by signal ") << outcome.value;
}

enum class Input { DevNull, OpenPipe, Closed };

// How the test starts the launcher.
struct Launch {
    using Variables = std::vector<std::pair<std::string, std::string>>;
    explicit Launch(std::vector<std::string> arguments, Variables variables = {})
        : args(std::move(arguments)), env(std::move(variables)) {}

    std::vector<std::string> args; // after argv[0]
    Variables env;                 // on top of the test's own
    std::string program; // what is executed, searched on PATH without '/'; empty: the launcher
    std::string argv0;   // empty: the program
    std::string cwd;     // empty: the test's own
    std::optional<std::string> path; // PATH for the launcher; nothing: the test's own
    Input input = Input::DevNull;
    std::vector<int> closedStreams; // standard descriptors closed in the launcher
    bool ownProcessGroup = false;
    bool ignoreChildSignal = false;
};

// A descriptor numbered 10 or higher with close-on-exec, out of the way of 0 to 2.
int highDescriptor(int fd) {
    const int moved = fcntl(fd, F_DUPFD_CLOEXEC, 10);
    close(fd);
    return moved;
}

// The launcher as a child of the test, with standard output and error in files of the
// installation. The stand-in records its argv and process id in the installation too.
// Ends and reaps the launcher (its process group too, when it has one) if the test did not.
class LauncherRun {
  public:
    LauncherRun(const Installation& installation, const Launch& launch)
        : installation_(installation), ownGroup_(launch.ownProcessGroup) {
        fs::remove(recordFile());
        fs::remove(pidFile());
        const std::string program =
            launch.program.empty() ? installation.launcher() : launch.program;
        std::vector<std::string> argv{launch.argv0.empty() ? program : launch.argv0};
        argv.insert(argv.end(), launch.args.begin(), launch.args.end());
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

        pid_ = fork();
        if (pid_ == 0) {
            // Only async-signal-safe calls between fork and exec.
            if (launch.ownProcessGroup) {
                setpgid(0, 0);
            }
            dup2(input, STDIN_FILENO);
            dup2(out, STDOUT_FILENO);
            dup2(err, STDERR_FILENO);
            close_range(3, ~0U, 0);
            if (launch.input == Input::Closed) {
                close(STDIN_FILENO);
            }
            for (const int fd : launch.closedStreams) {
                close(fd);
            }
            for (const int number : {SIGINT, SIGQUIT, SIGTERM, SIGCHLD}) {
                signal(number, SIG_DFL);
            }
            if (launch.ignoreChildSignal) {
                signal(SIGCHLD, SIG_IGN);
            }
            sigset_t none;
            sigemptyset(&none);
            sigprocmask(SIG_SETMASK, &none, nullptr);
            if (!launch.cwd.empty() && chdir(launch.cwd.c_str()) != 0) {
                _exit(126);
            }
            // execvp looks the program up on the PATH of the environment it passes on.
            environ = environmentPointers.data();
            execvp(program.c_str(), argvPointers.data());
            _exit(127);
        }
        if (ownGroup_ && pid_ > 0) {
            setpgid(pid_, pid_); // also from here, so the group exists before fork returns
        }
        close(out);
        close(err);
        close(input);
        if (pid_ < 0) {
            ADD_FAILURE() << "fork failed: " << std::strerror(errno);
        }
    }
    ~LauncherRun() {
        if (pid_ > 0 && !outcome_) {
            kill(ownGroup_ ? -pid_ : pid_, SIGKILL);
            int status = 0;
            while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
            }
        }
        if (pipeWriteEnd_ >= 0) {
            close(pipeWriteEnd_);
        }
    }
    LauncherRun(const LauncherRun&) = delete;
    LauncherRun& operator=(const LauncherRun&) = delete;

    pid_t pid() const { return pid_; }

    // The launcher's end within `limit`, reaped; nothing while it still runs.
    std::optional<Outcome> waitFor(Millis limit) {
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

    // The launcher's end; a failure of the test when it takes longer than `limit`.
    Outcome finish(Millis limit = kRunLimit) {
        const std::optional<Outcome> outcome = waitFor(limit);
        if (!outcome) {
            ADD_FAILURE() << "the launcher did not end within " << limit.count() << " ms";
            return Outcome::exitCode(-1);
        }
        return *outcome;
    }

    std::string out() const { return readWhole(outFile()); }
    std::string err() const { return readWhole(errFile()); }
    bool vmRan() const { return fs::exists(recordFile()); }
    // The VM's argv as the stand-in recorded it.
    std::vector<std::string> vmArgv() const {
        std::vector<std::string> entries = parseRecord(readWhole(recordFile()));
        if (!entries.empty()) {
            entries.erase(entries.begin());
        }
        return entries;
    }

    // The running VM, once it has written its process id.
    std::optional<ProcessRef> waitForVm() const {
        std::optional<ProcessRef> vm;
        waitUntil(
            [&] {
                const std::string text = readWhole(pidFile());
                if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos) {
                    return false;
                }
                const auto pid = static_cast<pid_t>(std::stol(text));
                if (linkTarget(procPath(pid, "exe")) != installation_.java()) {
                    return false;
                }
                vm = refOf(pid);
                return vm.has_value();
            },
            kStartLimit);
        return vm;
    }

  private:
    std::string outFile() const { return installation_.path("stdout.txt"); }
    std::string errFile() const { return installation_.path("stderr.txt"); }
    std::string recordFile() const { return installation_.path("record.txt"); }
    std::string pidFile() const { return installation_.path("vm.pid"); }

    std::vector<std::string> environmentFor(const Launch& launch) const {
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
        for (const auto& [name, value] : launch.env) {
            variables[name] = value;
        }
        std::vector<std::string> environment;
        for (const auto& [name, value] : variables) {
            environment.push_back(name + "=" + value);
        }
        return environment;
    }

    static std::vector<char*> pointersTo(const std::vector<std::string>& words) {
        std::vector<char*> pointers;
        for (const std::string& word : words) {
            pointers.push_back(const_cast<char*>(word.c_str()));
        }
        pointers.push_back(nullptr);
        return pointers;
    }

    const Installation& installation_;
    bool ownGroup_;
    pid_t pid_ = -1;
    int pipeWriteEnd_ = -1;
    std::optional<Outcome> outcome_;
};

// The argv the VM gets from a launcher configured with JDK_HOME only.
std::vector<std::string> expectedVmArgv(const Installation& installation,
                                        const std::vector<std::string>& vmOptions,
                                        const std::vector<std::string>& toolArgs) {
    std::vector<std::string> argv{installation.java(), "-classpath",
                                  installation.jdk() + "/lib/tools.jar"};
    argv.insert(argv.end(), vmOptions.begin(), vmOptions.end());
    argv.push_back(kEntryClass);
    argv.push_back("se_javac");
    argv.insert(argv.end(), toolArgs.begin(), toolArgs.end());
    return argv;
}

template <typename Case> std::string caseName(const ::testing::TestParamInfo<Case>& info) {
    return info.param.name;
}

// ---- What the VM receives ----

TEST(SupervisePosix, WorkedExampleReachesTheVmExactly) {
    Installation installation;
    installation.writeConfig({"JDK_HOME=" + installation.jdk(), "CLASSPATH=/t/a.jar",
                              "VORNEX_PATH=/vx", "VERSION=2.0", "BUILD=15"});
    LauncherRun run(installation, Launch{{"-J-Xmx256m", "-d", "out", "file1"}});

    EXPECT_EQ(run.finish(), Outcome::exitCode(0));
    const std::string jdk = installation.jdk();
    EXPECT_EQ(run.vmArgv(),
              (std::vector<std::string>{jdk + "/bin/java", "-Dtovik_version=2.0",
                                        "-Dtovik_build=15", "-Dtovik_vornex=/vx", "-classpath",
                                        "/t/a.jar:" + jdk + "/lib/tools.jar", "-Xmx256m",
                                        kEntryClass, "se_javac", "-d", "out", "file1"}));
    EXPECT_EQ(run.out(), "");
    EXPECT_EQ(run.err(), "");
}

struct ArgumentCase {
    std::string name;
    std::vector<std::string> args;
    std::vector<std::string> vmOptions; // what the VM gets before the entry class
    std::vector<std::string> toolArgs;  // what it gets after the tool name
};
void PrintTo(const ArgumentCase& row, std::ostream* out) {
    *out << row.name;
}

class ArgumentsReachTheVm : public ::testing::TestWithParam<ArgumentCase> {};

TEST_P(ArgumentsReachTheVm, AsExpected) {
    const ArgumentCase& c = GetParam();
    Installation installation;
    LauncherRun run(installation, Launch{c.args});

    EXPECT_EQ(run.finish(), Outcome::exitCode(0));
    EXPECT_EQ(run.vmArgv(), expectedVmArgv(installation, c.vmOptions, c.toolArgs));
}

INSTANTIATE_TEST_SUITE_P(
    Quoting, ArgumentsReachTheVm,
    ::testing::Values(ArgumentCase{"TrailingBackslashes",
                                   {"a\\", "b\\\\", "with space\\", "\\"},
                                   {},
                                   {"a\\", "b\\\\", "with space\\", "\\"}},
                      ArgumentCase{"EmbeddedQuotes",
                                   {"say \"hi\"", "\"", "\\\"", "a\\\\\"b", "\"\""},
                                   {},
                                   {"say \"hi\"", "\"", "\\\"", "a\\\\\"b", "\"\""}},
                      ArgumentCase{"SpacesAndTabs",
                                   {"two words", " lead", "trail ", "tab\there"},
                                   {},
                                   {"two words", " lead", "trail ", "tab\there"}},
                      ArgumentCase{"EmptyStrings", {"", "x", ""}, {}, {"", "x", ""}},
                      ArgumentCase{"BytesAbove7F",
                                   {"\xC3\xA9t\xC3\xA9", "\xFF\x80\xFE", "caf\xE9 au lait"},
                                   {},
                                   {"\xC3\xA9t\xC3\xA9", "\xFF\x80\xFE", "caf\xE9 au lait"}},
                      ArgumentCase{"VmOptionWithSpaceBecomesTwoWords",
                                   {"-J-Dx=a b", "file"},
                                   {"-Dx=a", "b"},
                                   {"file"}}),
    caseName<ArgumentCase>);

// Only "-monitor" with exactly two more arguments selects the monitor.
INSTANTIATE_TEST_SUITE_P(
    ModeDispatch, ArgumentsReachTheVm,
    ::testing::Values(
        ArgumentCase{"MonitorWithOneNumber", {"-monitor", "5"}, {}, {"-monitor", "5"}},
        ArgumentCase{"MonitorWithThreeNumbers",
                     {"-monitor", "5", "6", "7"},
                     {},
                     {"-monitor", "5", "6", "7"}},
        ArgumentCase{"OtherCase", {"-Monitor", "1", "2"}, {}, {"-Monitor", "1", "2"}}),
    caseName<ArgumentCase>);

// ---- Exit codes, output and start failures ----

class VmExitCode : public ::testing::TestWithParam<int> {};

TEST_P(VmExitCode, BecomesTheLaunchersAndOutputPassesThrough) {
    const int code = GetParam();
    const std::string out = "vm out " + std::to_string(code) + "\n";
    const std::string err = "vm err " + std::to_string(code) + "\n";
    Installation installation;
    LauncherRun run(installation, Launch{{"x"},
                                         {{"STAND_IN_EXIT", std::to_string(code)},
                                          {"STAND_IN_STDOUT", out},
                                          {"STAND_IN_STDERR", err}}});

    EXPECT_EQ(run.finish(), Outcome::exitCode(code));
    EXPECT_EQ(run.out(), out);
    EXPECT_EQ(run.err(), err);
}

INSTANTIATE_TEST_SUITE_P(Codes, VmExitCode, ::testing::Values(0, 3, 255),
                         [](const ::testing::TestParamInfo<int>& info) {
                             return "Exit" + std::to_string(info.param);
                         });

// Whoever starts the launcher with SIGCHLD ignored must not cost it the VM's exit status.
TEST(SupervisePosix, ExitCodeSurvivesAnIgnoredChildSignal) {
    Installation installation;
    Launch launch{{"x"}, {{"STAND_IN_EXIT", "3"}, {"STAND_IN_SLEEP_MS", "100"}}};
    launch.ignoreChildSignal = true;
    LauncherRun run(installation, launch);

    EXPECT_EQ(run.finish(), Outcome::exitCode(3));
}

struct StartFailureCase {
    std::string name;
    std::function<std::string(const Installation&)> prepare; // returns the JDK_HOME to use
    int error;
};
void PrintTo(const StartFailureCase& row, std::ostream* out) {
    *out << row.name;
}

class VmStartFailure : public ::testing::TestWithParam<StartFailureCase> {};

TEST_P(VmStartFailure, IsReportedOnStdoutWithExitCode1) {
    const StartFailureCase& c = GetParam();
    Installation installation;
    installation.writeConfig({"JDK_HOME=" + c.prepare(installation)});
    LauncherRun run(installation, Launch{{"x"}});

    EXPECT_EQ(run.finish(), Outcome::exitCode(1));
    EXPECT_EQ(run.out(), "\nCannot execute java virtual machine : " +
                             std::string(std::strerror(c.error)) + "\n");
    EXPECT_EQ(run.err(), "");
    EXPECT_FALSE(run.vmRan());
    EXPECT_TRUE(processesRunningFrom(installation.dir()).empty()) << "a monitor is left";
}

INSTANTIATE_TEST_SUITE_P(Cases, VmStartFailure,
                         ::testing::Values(StartFailureCase{"NoSuchVm",
                                                            [](const Installation& installation) {
                                                                return installation.path("missing");
                                                            },
                                                            ENOENT},
                                           StartFailureCase{"VmNotExecutable",
                                                            [](const Installation& installation) {
                                                                fs::permissions(
                                                                    installation.java(),
                                                                    fs::perms::owner_read |
                                                                        fs::perms::owner_write);
                                                                return installation.jdk();
                                                            },
                                                            EACCES}),
                         caseName<StartFailureCase>);

// ---- The supervision itself ----

// The monitor sits in its own session on /dev/null and holds two pidfds, under the numbers
// on its command line, for the launcher and the VM; the VM holds none.
TEST(SupervisePosix, MonitorIsDetachedAndHoldsThePidfds) {
    Installation installation;
    Launch launch{{"x"}, {{"STAND_IN_SLEEP_MS", kLongSleepMs}}};
    launch.input = Input::OpenPipe; // not /dev/null already
    LauncherRun run(installation, launch);
    const std::optional<ProcessRef> vm = run.waitForVm();
    const std::optional<ProcessRef> monitor = waitForMonitor(run.pid());
    ASSERT_TRUE(vm && monitor);

    const std::vector<std::string> words = commandLineOf(monitor->pid);
    ASSERT_EQ(words.size(), 4u);
    EXPECT_EQ(words[0], installation.launcher());
    EXPECT_EQ(linkTarget(procPath(monitor->pid, "exe")), installation.launcher());
    const std::optional<ProcessStat> stat = statOf(monitor->pid);
    ASSERT_TRUE(stat);
    EXPECT_EQ(stat->session, monitor->pid) << "the monitor is not in a session of its own";

    std::map<int, std::string> descriptors = descriptorsOf(monitor->pid);
    for (const int stream : {0, 1, 2}) {
        EXPECT_EQ(descriptors[stream], "/dev/null") << "descriptor " << stream;
        descriptors.erase(stream);
    }
    EXPECT_EQ(descriptors.size(), 2u);
    const std::vector<std::pair<std::string, pid_t>> held{{words[2], run.pid()},
                                                          {words[3], vm->pid}};
    for (const auto& [number, pid] : held) {
        EXPECT_TRUE(isPidfdLink(descriptors[std::stoi(number)])) << "descriptor " << number;
        EXPECT_EQ(pidNamedBy(monitor->pid, number), pid) << "descriptor " << number;
    }

    for (const auto& [number, target] : descriptorsOf(vm->pid)) {
        EXPECT_FALSE(isPidfdLink(target)) << "the VM holds a pidfd as descriptor " << number;
    }
}

// Standard descriptors the launcher was started without: pidfds must not land there, as
// the monitor gets /dev/null on 0 to 2.
struct KillCase {
    std::string name;
    std::vector<int> closedStreams;
};
void PrintTo(const KillCase& row, std::ostream* out) {
    *out << row.name;
}

class KillingTheLauncher : public ::testing::TestWithParam<KillCase> {};

TEST_P(KillingTheLauncher, EndsTheVmAndTheMonitor) {
    Installation installation;
    Launch launch{{"x"}, {{"STAND_IN_SLEEP_MS", kLongSleepMs}}};
    launch.closedStreams = GetParam().closedStreams;
    LauncherRun run(installation, launch);
    const std::optional<ProcessRef> vm = run.waitForVm();
    const std::optional<ProcessRef> monitor = waitForMonitor(run.pid());
    ASSERT_TRUE(vm && monitor);

    kill(run.pid(), SIGKILL);
    EXPECT_EQ(run.finish(), Outcome::signal(SIGKILL));
    EXPECT_TRUE(endsWithin(*vm, kEndLimit)) << "the VM outlived the launcher";
    EXPECT_TRUE(endsWithin(*monitor, kEndLimit)) << "the monitor outlived the launcher";
}

INSTANTIATE_TEST_SUITE_P(StandardStreams, KillingTheLauncher,
                         ::testing::Values(KillCase{"AllOpen", {}}, KillCase{"StdinClosed", {0}},
                                           KillCase{"AllClosed", {0, 1, 2}}),
                         caseName<KillCase>);

TEST(SupervisePosix, KillingTheMonitorEndsTheVmAndTheLauncherReportsIt) {
    Installation installation;
    LauncherRun run(installation, Launch{{"x"}, {{"STAND_IN_SLEEP_MS", kLongSleepMs}}});
    const std::optional<ProcessRef> vm = run.waitForVm();
    const std::optional<ProcessRef> monitor = waitForMonitor(run.pid());
    ASSERT_TRUE(vm && monitor);

    kill(monitor->pid, SIGKILL);
    EXPECT_EQ(run.finish(kEndLimit + kEndLimit), Outcome::exitCode(128 + SIGKILL));
    EXPECT_FALSE(isRunning(*vm));
}

TEST(SupervisePosix, NoMonitorIsLeftAfterANormalEnd) {
    Installation installation;
    LauncherRun run(installation, Launch{{"x"}, {{"STAND_IN_SLEEP_MS", "500"}}});
    const std::optional<ProcessRef> monitor = waitForMonitor(run.pid());
    ASSERT_TRUE(monitor);

    EXPECT_EQ(run.finish(), Outcome::exitCode(0));
    EXPECT_TRUE(endsWithin(*monitor, kEndLimit));
    EXPECT_TRUE(processesRunningFrom(installation.dir()).empty());
}

// Ctrl+C on a terminal: SIGINT to the foreground process group, the launcher's and the
// VM's; the monitor, in its own session, is not in it.
TEST(SupervisePosix, InterruptOnTheProcessGroupEndsEvenAVmThatIgnoresIt) {
    Installation installation;
    Launch launch{{"x"}, {{"STAND_IN_SLEEP_MS", kLongSleepMs}, {"STAND_IN_IGNORE_INT", "1"}}};
    launch.ownProcessGroup = true;
    LauncherRun run(installation, launch);
    const std::optional<ProcessRef> vm = run.waitForVm();
    const std::optional<ProcessRef> monitor = waitForMonitor(run.pid());
    ASSERT_TRUE(vm && monitor);

    kill(-run.pid(), SIGINT);
    EXPECT_EQ(run.finish(), Outcome::signal(SIGINT));
    EXPECT_TRUE(endsWithin(*vm, kEndLimit)) << "the VM outlived the launcher";
    EXPECT_TRUE(endsWithin(*monitor, kEndLimit)) << "the monitor outlived the launcher";
}

// ---- The monitor started by hand ----

struct HandMonitorCase {
    std::string name;
    std::string launcherHandle;
    std::string vmHandle;
};
void PrintTo(const HandMonitorCase& row, std::ostream* out) {
    *out << row.name;
}

class MonitorByHand : public ::testing::TestWithParam<HandMonitorCase> {};

// Standard input is a pipe that stays open, so a wait on descriptor 0 would never end.
TEST_P(MonitorByHand, EndsAtOnceWithoutOutput) {
    const HandMonitorCase& c = GetParam();
    Installation installation;
    Launch launch{{"-monitor", c.launcherHandle, c.vmHandle}};
    launch.input = Input::OpenPipe;
    LauncherRun run(installation, launch);

    EXPECT_EQ(run.finish(2s), Outcome::exitCode(0));
    EXPECT_EQ(run.out(), "");
    EXPECT_EQ(run.err(), "");
    EXPECT_FALSE(run.vmRan());
}

INSTANTIATE_TEST_SUITE_P(Handles, MonitorByHand,
                         ::testing::Values(HandMonitorCase{"NoDescriptors", "123456", "654321"},
                                           HandMonitorCase{"Words", "abc", "def"},
                                           HandMonitorCase{"Negative", "-1", "-1"},
                                           HandMonitorCase{"StandardStreams", "0", "2"}),
                         caseName<HandMonitorCase>);

// ---- Where the launcher is ----

TEST(SupervisePosix, RunsFromADirectoryWithASpace) {
    Installation installation("with space");
    LauncherRun run(installation, Launch{{"x"}});

    EXPECT_EQ(run.finish(), Outcome::exitCode(0));
    EXPECT_EQ(run.vmArgv(), expectedVmArgv(installation, {}, {"x"}));
}

TEST(SupervisePosix, FindsItselfThroughPath) {
    Installation installation;
    const std::string elsewhere = installation.makeSubdir("elsewhere");
    const std::string empty = installation.makeSubdir("empty");
    Launch launch{{"x"}};
    launch.program = "se_javac";
    launch.cwd = elsewhere;
    launch.path = empty + ":" + installation.dir() + ":/usr/bin:/bin";
    LauncherRun run(installation, launch);

    EXPECT_EQ(run.finish(), Outcome::exitCode(0));
    EXPECT_EQ(run.vmArgv(), expectedVmArgv(installation, {}, {"x"}));
}

// argv[0] may name another file than the one running; the monitor must be this one anyway.
TEST(SupervisePosix, MonitorIsThisExecutableWhateverArgv0Names) {
    Installation installation;
    const std::string decoy = installation.makeSubdir("decoy");
    testing_support::writeFile(decoy + "se_javac", "#!/bin/sh\nexit 0\n");
    fs::permissions(decoy + "se_javac", fs::perms::owner_all);
    Installation::writeConfigInto(decoy, {"JDK_HOME=" + installation.jdk()});
    Launch launch{{"x"}, {{"STAND_IN_SLEEP_MS", "500"}}};
    launch.argv0 = "se_javac";
    launch.cwd = installation.makeSubdir("elsewhere");
    launch.path = decoy + ":/usr/bin:/bin";
    LauncherRun run(installation, launch);
    const std::optional<ProcessRef> monitor = waitForMonitor(run.pid());
    ASSERT_TRUE(monitor);

    EXPECT_EQ(linkTarget(procPath(monitor->pid, "exe")), installation.launcher());
    EXPECT_EQ(run.finish(), Outcome::exitCode(0));
}

// ---- Configuration errors end the launcher before anything starts ----

struct ConfigErrorCase {
    std::string name;
    std::optional<std::vector<std::string>> lines; // nothing: no configuration file at all
    std::function<std::string(const Installation&)> message;
};
void PrintTo(const ConfigErrorCase& row, std::ostream* out) {
    *out << row.name;
}

class ConfigurationError : public ::testing::TestWithParam<ConfigErrorCase> {};

TEST_P(ConfigurationError, IsReportedOnStderrWithoutLineFeed) {
    const ConfigErrorCase& c = GetParam();
    Installation installation;
    if (c.lines) {
        installation.writeConfig(*c.lines);
    } else {
        fs::remove(installation.path("morle_tool.cfg"));
    }
    LauncherRun run(installation, Launch{{"-d", "out", "A.java"}});

    EXPECT_EQ(run.finish(), Outcome::exitCode(1));
    EXPECT_EQ(run.err(), c.message(installation));
    EXPECT_EQ(run.out(), "");
    EXPECT_FALSE(run.vmRan());
    EXPECT_TRUE(processesRunningFrom(installation.dir()).empty());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ConfigurationError,
    ::testing::Values(
        ConfigErrorCase{"MissingFile", std::nullopt,
                        [](const Installation& installation) {
                            return "cannot find config file: " + installation.dir() +
                                   "/morle_tool.cfg";
                        }},
        ConfigErrorCase{"NoAssignment", std::vector<std::string>{"# settings", "JDK_HOME"},
                        [](const Installation&) {
                            return std::string(
                                "config file: illegal format of assignment at line: 2");
                        }},
        ConfigErrorCase{"UnknownName", std::vector<std::string>{"", "VERSION=1", "jdk_home=/x"},
                        [](const Installation&) {
                            return std::string(
                                "config file: unknown name of variable: jdk_home at line: 3");
                        }}),
    caseName<ConfigErrorCase>);

} // namespace
