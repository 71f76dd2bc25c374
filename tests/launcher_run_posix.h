#pragma once

// What the end-to-end tests on Linux share: the built launcher installed with its
// configuration in a fresh directory, run as a real process with the stand-in VM as
// <JDK_HOME>/bin/java, and a look at the processes it starts through /proc. Every wait has a
// time limit, and every process a test starts is ended when the test ends.
#include <sys/types.h>

#include <chrono>
#include <cstddef>
#include <functional>
#include <map>
#include <optional>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "test_support.h"

namespace launcher_run {

using namespace std::chrono_literals;
using testing_support::kEntryClass;
using testing_support::Millis;
using testing_support::readFile;

// The limit on anything that only takes longer when something hangs: a launcher run whose
// VM does not wait, or the end of the VM and the monitor once what should end them has
// ended. Reached only when something is wrong, so it is generous for loaded machines.
constexpr Millis kRunLimit = 10s;
// How long the launcher may take to start the VM and the monitor.
constexpr Millis kStartLimit = 5s;

// True when the tests run as on a kernel without pidfds (SE_TEST_WITHOUT_PIDFDS set): every
// launcher is then started through exec_limited --without-pidfds, and names its processes by
// their ids.
bool withoutPidfds();

// Calls `condition` every few milliseconds until it holds or `limit` has passed.
bool waitUntil(const std::function<bool()>& condition, Millis limit);

// ---- Looking at processes through /proc ----

std::string procPath(pid_t pid, const std::string& entry);

struct ProcessStat {
    char state = '?';
    pid_t parent = 0;
    pid_t session = 0;
    unsigned long long startTime = 0;
};

std::optional<ProcessStat> statOf(pid_t pid);

// A process named by its id and its start time, so that a reused id does not count.
struct ProcessRef {
    pid_t pid = 0;
    unsigned long long startTime = 0;
};

std::optional<ProcessRef> refOf(pid_t pid);

// Running, not a zombie: an orphan that has ended may stay a zombie where nobody reaps it.
bool isRunning(const ProcessRef& process);
bool endsWithin(const ProcessRef& process, Millis limit);

// The program a process runs and its argv. Under user-mode emulation a program started
// through binfmt_misc runs inside the emulator: /proc shows the emulator as its executable and
// a command line of the interpreter, the program's path and then the program's own argv (the
// entry keeps argv[0], flag P); these give the program's.
std::string executableOf(pid_t pid);
std::vector<std::string> commandLineOf(pid_t pid);
// The signals a process ignores (SigIgn in /proc/<pid>/status): bit N-1 for signal N.
unsigned long long ignoredSignalsOf(pid_t pid);
std::string linkTarget(const std::string& path);
std::vector<pid_t> allProcessIds();

// The live processes whose executable lies under `directory` (zombies have none).
std::vector<ProcessRef> processesRunningFrom(const std::string& directory);

// A process's name (its command name, /proc/<pid>/comm).
std::string processNameOf(pid_t pid);
// A monitor's name: the launcher's with "-mon" added.
bool isMonitorName(const std::string& name);
// The monitor of a launcher: its child named as a monitor.
std::optional<ProcessRef> monitorOf(pid_t launcher);
std::optional<ProcessRef> waitForMonitor(pid_t launcher);

bool isPidfdLink(const std::string& target);
// The process a pidfd held by `holder` names, from the descriptor's "Pid:" line.
pid_t pidNamedBy(pid_t holder, const std::string& fd);
// Descriptor number -> what it refers to, for a running process.
std::map<int, std::string> descriptorsOf(pid_t pid);

// ---- The installation and the launcher run ----

// A launcher installed in a fresh temporary directory: se_javac (or se_java, by the tool
// identity), morle_tool.cfg and jdk/bin/java (the stand-in VM). Ends every process still
// running from the directory, then removes it.
class Installation {
  public:
    explicit Installation(const std::string& label = "e2e",
                          const std::string& identity = "se_javac");
    ~Installation();
    Installation(const Installation&) = delete;
    Installation& operator=(const Installation&) = delete;

    // The directory, ending in '/'.
    const std::string& dir() const { return dir_; }
    std::string path(const std::string& name) const { return dir_ + name; }
    const std::string& identity() const { return identity_; }
    std::string launcher() const { return path(identity_); }
    std::string jdk() const { return path("jdk"); }
    std::string java() const { return jdk() + "/bin/java"; }

    void writeConfig(const std::vector<std::string>& lines) const { writeConfigInto(dir_, lines); }
    static void writeConfigInto(const std::string& directory,
                                const std::vector<std::string>& lines);
    // A new, empty directory inside the installation, ending in '/'.
    std::string makeSubdir(const std::string& name) const;

  private:
    std::string identity_;
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

void PrintTo(const Outcome& outcome, std::ostream* out);

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
    // Descriptors of the test the launcher inherits: its number there -> the test's descriptor.
    std::map<int, int> passedDescriptors;
    bool ownProcessGroup = false;
    bool ignoreChildSignal = false;
    // Run as user and group 65534 ("nobody") when the test runs as root, so that file
    // permissions apply to the launcher; it ends with kCannotDropPrivileges if that fails.
    bool unprivileged = false;
    std::vector<int> ignoredSignals;   // ignored in the launcher from its start (as nohup does)
    std::size_t addressSpaceLimit = 0; // bytes of address space (RLIMIT_AS); 0: the test's own
    // The VM exits only once the test calls LauncherRun::releaseVm(), or when it is ended:
    // it runs for as long as the test needs to look at it.
    bool holdVm = false;
    // The launcher leads a session of its own whose controlling terminal is a pseudo-terminal
    // (its process group the terminal's foreground group), on which the test types keys
    // (LauncherRun::type) or which it hangs up (LauncherRun::hangUp); its standard streams
    // stay as they are.
    bool terminal = false;
    // Options of exec_limited to start the launcher through (--clone3-eperm, say), besides
    // --without-pidfds where the tests run so.
    std::vector<std::string> limits;
};

constexpr int kCannotDropPrivileges = 125;

// A descriptor numbered 10 or higher with close-on-exec, out of the way of 0 to 2.
int highDescriptor(int fd);

// The launcher as a child of the test, with standard output and error in files of the
// installation. The stand-in records its argv and process id in the installation too.
// Ends and reaps the launcher (its process group too, when it has one) if the test did not.
class LauncherRun {
  public:
    LauncherRun(const Installation& installation, const Launch& launch);
    ~LauncherRun();
    LauncherRun(const LauncherRun&) = delete;
    LauncherRun& operator=(const LauncherRun&) = delete;

    pid_t pid() const { return pid_; }

    // The launcher's end within `limit`, reaped; nothing while it still runs.
    std::optional<Outcome> waitFor(Millis limit);
    // The launcher's end; a failure of the test when it takes longer than `limit`.
    Outcome finish(Millis limit = kRunLimit);

    std::string out() const { return readFile(outFile()); }
    std::string err() const { return readFile(errFile()); }
    bool vmRan() const;
    // The VM's argv as the stand-in recorded it.
    std::vector<std::string> vmArgv() const;
    // The running VM, once it has written its process id.
    std::optional<ProcessRef> waitForVm() const;
    // Lets a VM started with Launch::holdVm exit.
    void releaseVm() const;
    // Types keys on the terminal of a launcher started with Launch::terminal: "\x03" is
    // Ctrl+C, which sends SIGINT to the foreground process group, "\x1c" Ctrl+\ (SIGQUIT).
    void type(const std::string& keys) const;
    // Hangs up that terminal (its other side closed, as when the connection to it is lost):
    // the kernel sends SIGHUP to the session's leader, the launcher.
    void hangUp();

  private:
    std::string outFile() const { return installation_.path("stdout.txt"); }
    std::string errFile() const { return installation_.path("stderr.txt"); }
    std::string recordFile() const { return installation_.path("record.txt"); }
    std::string pidFile() const { return installation_.path("vm.pid"); }
    std::string releaseFile() const { return installation_.path("vm.release"); }

    std::vector<std::string> environmentFor(const Launch& launch) const;

    const Installation& installation_;
    bool ownGroup_;
    pid_t pid_ = -1;
    int pipeWriteEnd_ = -1;
    int terminal_ = -1; // the pseudo-terminal's master side
    std::optional<Outcome> outcome_;
};

// The argv the VM gets from the installation's launcher configured with JDK_HOME only.
inline std::vector<std::string> expectedVmArgv(const Installation& installation,
                                               const std::vector<std::string>& vmOptions,
                                               const std::vector<std::string>& toolArgs) {
    return testing_support::expectedVmArgv(installation.jdk(), installation.identity(), vmOptions,
                                           toolArgs);
}

} // namespace launcher_run
