#pragma once

// What the end-to-end tests on Windows share: se_javac.exe (or se_java.exe) installed with
// its configuration and a stand-in VM (as <jdk>\bin\java.exe) in a fresh temporary directory,
// started with an exact command line in a job object of its own, and a look at the processes it
// starts.
#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include "job_processes_win32.h"
#include "test_support.h"

namespace launcher_run {

using testing_support::kEntryClass;
// The start failure message as its line break reaches a file through the text-mode stdout.
constexpr const char* kOutputPrefix = "\r\nCannot execute java virtual machine : ";

// The system's message for an error code, as FormatMessageA gives it (with its line end).
std::string systemText(DWORD code);
// A start failure as it reaches the launcher's standard output file: the system's message
// with one CR LF at its end.
std::string startFailure(const std::string& what, DWORD code);

// Time limits. A whole launcher run takes well under a second under Wine; the run limit is
// only reached when something hangs, and bounds every wait for something that must happen.
// The quick limit bounds the clean-up of what a test leaves.
constexpr DWORD kRunLimitMs = 20000;
constexpr DWORD kQuickLimitMs = 5000;
// Under Wine every look at the processes is a call to the wineserver, which the processes
// under test need too: poll them at a modest rate.
constexpr DWORD kPollMs = 50;

// ---------------------------------------------------------------------------------------
// Handles and processes

class UniqueHandle {
  public:
    UniqueHandle() = default;
    explicit UniqueHandle(HANDLE handle)
        : handle_(handle == INVALID_HANDLE_VALUE ? nullptr : handle) {}
    ~UniqueHandle() { reset(); }
    UniqueHandle(UniqueHandle&& other) noexcept : handle_(other.handle_) {
        other.handle_ = nullptr;
    }
    UniqueHandle& operator=(UniqueHandle&& other) noexcept {
        if (this != &other) {
            reset();
            handle_ = other.handle_;
            other.handle_ = nullptr;
        }
        return *this;
    }
    HANDLE get() const { return handle_; }
    explicit operator bool() const { return handle_ != nullptr; }
    void reset() {
        if (handle_ != nullptr) {
            CloseHandle(handle_);
            handle_ = nullptr;
        }
    }

  private:
    HANDLE handle_ = nullptr;
};

std::string lastErrorText(const std::string& what);

// The exit code once the process has ended within the limit; nothing if it still runs.
std::optional<DWORD> waitForExit(HANDLE process, DWORD limitMs);

// A handle to a running process by its id, good for waiting, its exit code and ending it.
UniqueHandle openProcess(DWORD pid);

// Polls `probe` until it gives a value or the limit has passed.
template <typename Probe> auto pollFor(DWORD limitMs, Probe probe) -> decltype(probe()) {
    return testing_support::pollFor(testing_support::Millis(limitMs),
                                    testing_support::Millis(kPollMs), probe);
}

// The id of a running process with the given executable name and parent, if there is one.
std::optional<DWORD> findChildProcess(DWORD parentPid, const std::string& exeName);

// The full path of the file a running process was started from.
std::string imagePathOf(DWORD pid);

// The executable name (without directory) of a running process, if it still runs.
std::optional<std::string> exeNameOf(DWORD pid);

// Under Wine every Windows process is a Unix process as well, and one whose start was cut
// short by the end of the process starting it can hang there with no Windows process left
// to end; Wine can even keep a process that never got a Unix process at all, which ends
// neither and counts as running in its job. The Unix processes (id and command line) whose
// command line holds `text`, read from /proc through Wine's Z: drive; none on Windows.
bool underWine();
struct UnixProcess {
    unsigned long pid = 0;
    std::string commandLine;
};
std::vector<UnixProcess> unixProcessesNaming(const std::string& text);
// Ends a Unix process with SIGKILL through /bin/sh, which Wine starts as a Unix program.
void killUnixProcess(unsigned long pid);
// Under Wine: the Unix path of a Windows path (its last part need not exist yet).
std::string unixPathOf(const std::string& path);
// Under Wine: runs a command with /bin/sh and waits until `done` holds.
void runUnixShell(const std::string& command, const std::function<bool()>& done);
// Under Wine: a Unix symbolic link `link` to `target` (both Windows paths), made by ln -s
// through /bin/sh, as a package manager or the user makes one; Wine shows it as a plain file.
void makeUnixSymlink(const std::string& target, const std::string& link);

// ---------------------------------------------------------------------------------------
// Environment of the processes the tests start

// Sets variables of this process, which the launcher and through it the VM inherit, and
// puts the old values back when it goes.
class ScopedEnvironment {
  public:
    ScopedEnvironment() = default;
    ScopedEnvironment(const ScopedEnvironment&) = delete;
    ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;
    ~ScopedEnvironment();

    void set(const std::string& name, const std::string& value);
    static std::optional<std::string> get(const std::string& name);

  private:
    std::map<std::string, std::optional<std::string>> saved_;
};

// ---------------------------------------------------------------------------------------
// Installation

void copyFile(const std::string& from, const std::string& to);
void makeDir(const std::string& path);
std::string replaceAll(std::string text, const std::string& from, const std::string& to);
// Text as a text-mode stream writes it to a file: a CR before each LF.
std::string asWritten(const std::string& text);

// A launcher in a directory of its own: <dir><identity>.exe, <dir>morle_tool.cfg and the
// stand-in VM as <dir>jdk\bin\java.exe.
struct Installation {
    std::string base;     // the temporary directory, ending in '\'
    std::string dir;      // where the launcher is, ending in '\'
    std::string identity; // "se_javac" or "se_java"
    std::string launcher;
    std::string jdk;

    // "<jdk>" and "<dir>" in a text replaced by this installation's paths.
    std::string expand(const std::string& text) const {
        return replaceAll(replaceAll(text, "<jdk>", jdk), "<dir>", dir);
    }
    std::string recordPath() const { return dir + "vm-record.txt"; }
    std::string environmentPath() const { return dir + "vm-environment.txt"; }
    std::string pidPath() const { return dir + "vm-pid.txt"; }
    std::string releasePath() const { return dir + "vm-release.txt"; }
};

// Installs the launcher of the tool identity in a new temporary directory, or in `subdir`
// of it, with the configuration `config` ("<jdk>" and "<dir>" expanded).
Installation install(const std::string& label, const std::string& config,
                     const std::string& subdir = "", const std::string& identity = "se_javac");

// ---------------------------------------------------------------------------------------
// The stand-in VM's record

struct VmRecord {
    std::string commandLine;
    std::vector<std::string> argv;
};

// The entries of a file the stand-in VM writes; nothing when there is no such file.
std::optional<std::vector<std::string>> readEntries(const std::string& path);

// Reads the stand-in VM's record: the raw command line, then its argv.
std::optional<VmRecord> readVmRecord(const std::string& path);

// This process's environment as "NAME=value" entries, sorted, without the entries whose
// name starts with '=' (the per-drive current directories).
std::vector<std::string> sortedEnvironment(const char* block);

// The argv the VM gets from the installation's launcher configured with JDK_HOME only.
inline std::vector<std::string> expectedVmArgv(const Installation& installation,
                                               const std::vector<std::string>& vmOptions,
                                               const std::vector<std::string>& toolArgs) {
    return testing_support::expectedVmArgv(installation.jdk, installation.identity, vmOptions,
                                           toolArgs);
}

// ---------------------------------------------------------------------------------------
// A started launcher

// Standard streams for a program the test starts with STARTF_USESTDHANDLES: input from NUL,
// output and errors into files, all inheritable. The test's own standard streams are made
// not inheritable: held by a process Wine leaves stuck in its start, they would keep whoever
// reads the test's output (ctest) waiting for their end in vain.
class RedirectedStreams {
  public:
    RedirectedStreams(const std::string& outputPath, const std::string& errorPath);
    template <typename StartupInfo> void fill(StartupInfo& startup) const {
        startup.dwFlags |= STARTF_USESTDHANDLES;
        startup.hStdInput = input_.get();
        startup.hStdOutput = output_.get();
        startup.hStdError = error_.get();
    }

  private:
    UniqueHandle input_;
    UniqueHandle output_;
    UniqueHandle error_;
};

// A process started from an exact command line, in a job object of its own so that
// everything it starts can be counted and ended, with its standard output and error
// going to files. With an `applicationName`, that file is started, whatever the command
// line's first word says. Inheritable handles of the test are inherited.
class Launch {
  public:
    Launch(const std::string& commandLine, const std::string& outputDir,
           const std::string& currentDir = "", const std::string& applicationName = "");
    Launch(const Launch&) = delete;
    Launch& operator=(const Launch&) = delete;
    // Ends whatever is left of the launcher and what it started.
    ~Launch();

    DWORD pid() const { return pid_; }
    HANDLE process() const { return process_.get(); }

    std::optional<DWORD> waitForExit(DWORD limitMs) const;

    std::string output() const;
    std::string errors() const;

    // Processes started in the job so far (the launcher included) and those still running.
    JOBOBJECT_BASIC_ACCOUNTING_INFORMATION accounting() const;
    // The processes the run started, the launcher included: those of the job that the
    // launcher accounts for (see startedByLauncher). Wine may start programs of its own from a
    // process of the job, and cannot always name a process; what is left out is named on the
    // test's output.
    StartedProcesses processesStarted() const;
    // True once nothing started in the job runs any more, within the limit.
    bool allEndWithin(DWORD limitMs) const;
    // The processes of the job that still run.
    std::vector<DWORD> runningProcessIds() const;
    // Ends everything in the job; true when all of it has ended within the limit.
    bool endAll(DWORD limitMs) const;

  private:
    // Notes the processes of the job not seen before, and the names of those not yet named;
    // the sampler does so every few milliseconds until the Launch goes, so that even a
    // short-lived one is seen.
    void sampleMembers() const;

    std::string outputPath_;
    std::string errorPath_;
    UniqueHandle job_;
    UniqueHandle process_;
    DWORD pid_ = 0;
    mutable std::mutex membersMutex_;
    mutable std::vector<JobMember> members_;
    UniqueHandle stopSampling_;
    std::thread sampler_;
};

// The launcher's command line: its path and each argument, all quoted.
std::string commandLine(const std::string& launcher, const std::vector<std::string>& arguments);

// ---------------------------------------------------------------------------------------
// Fixture

struct VmBehaviour {
    int exitCode = 0;
    int sleepMs = 0;
    std::string output;
    std::string errors;
    // The VM exits only once the test calls LauncherTest::releaseVm(), or when it is ended:
    // it runs for as long as the test needs to look at it.
    bool held = false;
};

// A VM that runs until the test releases it or it is ended, then exits with `exitCode`.
inline VmBehaviour heldVm(int exitCode = 0) {
    return VmBehaviour{exitCode, 0, "", "", true};
}

void PrintTo(const VmBehaviour& behaviour, std::ostream* out);

class LauncherTest : public ::testing::Test {
  protected:
    void TearDown() override;

    Installation installLauncher(const std::string& label, const std::string& config,
                                 const std::string& subdir = "",
                                 const std::string& identity = "se_javac");
    std::string tempDir(const std::string& label);

    // Makes the VMs started from now on record themselves into the installation's files
    // and behave as asked.
    void steerVm(const Installation& installation, const VmBehaviour& behaviour);

    // Lets a VM steered with `held` exit.
    static void releaseVm(const Installation& installation);

    // The id of the VM once it has written it.
    static DWORD waitForVmPid(const Installation& installation);
    // The monitor: the <identity>.exe the launcher has started.
    static DWORD waitForMonitorPid(const Launch& launch, const std::string& identity = "se_javac");

    ScopedEnvironment environment_;

  private:
    std::vector<std::string> tempDirs_;
};

inline const std::string kPlainConfig = "JDK_HOME=<jdk>\n";

} // namespace launcher_run
