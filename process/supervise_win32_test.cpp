// End-to-end tests of the launcher on Windows: each test installs se_javac.exe with its
// configuration and a stand-in VM (as <jdk>\bin\java.exe) in a fresh temporary directory,
// starts it with an exact command line and watches the processes it starts.
#include <windows.h>
// After windows.h, which it needs.
#include <tlhelp32.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <optional>
#include <ostream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "javacmd/quoting.h"
#include "test_support.h"

namespace {

using testing_support::buildPath;
using testing_support::makeTempDir;
using testing_support::readFile;
using testing_support::writeFile;

constexpr const char* kEntryClass = "fenmoor.zandrel.se.java.toJava.Main";
// The start failure message as its line break reaches a file through the text-mode stdout.
constexpr const char* kOutputPrefix = "\r\nCannot execute java virtual machine : ";

// Time limits. A whole launcher run takes well under a second under Wine; the limits are
// only reached when something is wrong.
constexpr DWORD kRunLimitMs = 20000;
constexpr DWORD kQuickLimitMs = 5000;
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

std::string lastErrorText(const std::string& what) {
    return what + " failed with error " + std::to_string(GetLastError());
}

// The exit code once the process has ended within the limit; nothing if it still runs.
std::optional<DWORD> waitForExit(HANDLE process, DWORD limitMs) {
    if (WaitForSingleObject(process, limitMs) != WAIT_OBJECT_0) {
        return std::nullopt;
    }
    DWORD code = 0;
    if (!GetExitCodeProcess(process, &code)) {
        throw std::runtime_error(lastErrorText("GetExitCodeProcess"));
    }
    return code;
}

// A handle to a running process by its id, good for waiting, its exit code and ending it.
UniqueHandle openProcess(DWORD pid) {
    UniqueHandle process(OpenProcess(
        SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION | PROCESS_TERMINATE, FALSE, pid));
    if (!process) {
        throw std::runtime_error(lastErrorText("OpenProcess " + std::to_string(pid)));
    }
    return process;
}

// Polls `probe` until it gives a value or the limit has passed.
template <typename Probe> auto pollFor(DWORD limitMs, Probe probe) -> decltype(probe()) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs);
    for (;;) {
        if (auto value = probe()) {
            return value;
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            return {};
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(kPollMs));
    }
}

// The id of a running process with the given executable name and parent, if there is one.
std::optional<DWORD> findChildProcess(DWORD parentPid, const std::string& exeName) {
    UniqueHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!snapshot) {
        throw std::runtime_error(lastErrorText("CreateToolhelp32Snapshot"));
    }
    PROCESSENTRY32 entry{};
    entry.dwSize = sizeof(entry);
    for (BOOL found = Process32First(snapshot.get(), &entry); found;
         found = Process32Next(snapshot.get(), &entry)) {
        if (entry.th32ParentProcessID == parentPid &&
            lstrcmpiA(entry.szExeFile, exeName.c_str()) == 0) {
            return entry.th32ProcessID;
        }
    }
    return std::nullopt;
}

// ---------------------------------------------------------------------------------------
// Environment of the processes the tests start

// Sets variables of this process, which the launcher and through it the VM inherit, and
// puts the old values back when it goes.
class ScopedEnvironment {
  public:
    ScopedEnvironment() = default;
    ScopedEnvironment(const ScopedEnvironment&) = delete;
    ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;
    ~ScopedEnvironment() {
        for (const auto& [name, value] : saved_) {
            SetEnvironmentVariableA(name.c_str(), value ? value->c_str() : nullptr);
        }
    }

    void set(const std::string& name, const std::string& value) {
        if (saved_.count(name) == 0) {
            saved_[name] = get(name);
        }
        if (!SetEnvironmentVariableA(name.c_str(), value.c_str())) {
            throw std::runtime_error(lastErrorText("SetEnvironmentVariableA " + name));
        }
    }

    static std::optional<std::string> get(const std::string& name) {
        const DWORD size = GetEnvironmentVariableA(name.c_str(), nullptr, 0);
        if (size == 0) {
            return std::nullopt;
        }
        std::string value(size, '\0');
        value.resize(GetEnvironmentVariableA(name.c_str(), value.data(), size));
        return value;
    }

  private:
    std::map<std::string, std::optional<std::string>> saved_;
};

// ---------------------------------------------------------------------------------------
// Installation

void copyFile(const std::string& from, const std::string& to) {
    if (!CopyFileA(from.c_str(), to.c_str(), FALSE)) {
        throw std::runtime_error(lastErrorText("CopyFileA " + from + " -> " + to));
    }
}

void makeDir(const std::string& path) {
    if (!CreateDirectoryA(path.c_str(), nullptr)) {
        throw std::runtime_error(lastErrorText("CreateDirectoryA " + path));
    }
}

std::string replaceAll(std::string text, const std::string& from, const std::string& to) {
    for (std::size_t at = text.find(from); at != std::string::npos;
         at = text.find(from, at + to.size())) {
        text.replace(at, from.size(), to);
    }
    return text;
}

// A launcher in a directory of its own: <dir>se_javac.exe, <dir>morle_tool.cfg and the
// stand-in VM as <dir>jdk\bin\java.exe.
struct Installation {
    std::string base; // the temporary directory, ending in '\'
    std::string dir;  // where the launcher is, ending in '\'
    std::string launcher;
    std::string jdk;

    // "<jdk>" and "<dir>" in a text replaced by this installation's paths.
    std::string expand(const std::string& text) const {
        return replaceAll(replaceAll(text, "<jdk>", jdk), "<dir>", dir);
    }
    std::string recordPath() const { return dir + "vm-record.txt"; }
    std::string pidPath() const { return dir + "vm-pid.txt"; }
};

// Installs the launcher in a new temporary directory, or in `subdir` of it, with the
// configuration `config` ("<jdk>" and "<dir>" expanded).
Installation install(const std::string& label, const std::string& config,
                     const std::string& subdir = "") {
    Installation installation;
    installation.base = makeTempDir(label);
    installation.dir = installation.base;
    if (!subdir.empty()) {
        installation.dir += subdir;
        makeDir(installation.dir);
        installation.dir += '\\';
    }
    installation.launcher = installation.dir + "se_javac.exe";
    installation.jdk = installation.dir + "jdk";
    copyFile(buildPath(SE_LAUNCHER_PATH), installation.launcher);
    makeDir(installation.jdk);
    makeDir(installation.jdk + "\\bin");
    copyFile(buildPath(SE_STAND_IN_VM_PATH), installation.jdk + "\\bin\\java.exe");
    writeFile(installation.dir + "morle_tool.cfg", installation.expand(config));
    return installation;
}

// ---------------------------------------------------------------------------------------
// The stand-in VM's record

struct VmRecord {
    std::string commandLine;
    std::vector<std::string> argv;
};

// Reads the entries "<byte count> <bytes>\n" the stand-in VM writes: the raw command line,
// then its argv.
std::optional<VmRecord> readVmRecord(const std::string& path) {
    if (GetFileAttributesA(path.c_str()) == INVALID_FILE_ATTRIBUTES) {
        return std::nullopt;
    }
    const std::string content = readFile(path);
    std::vector<std::string> entries;
    std::size_t position = 0;
    while (position < content.size()) {
        const std::size_t space = content.find(' ', position);
        if (space == std::string::npos) {
            throw std::runtime_error("malformed record " + path);
        }
        const std::size_t size = std::stoul(content.substr(position, space - position));
        if (space + 1 + size >= content.size() || content[space + 1 + size] != '\n') {
            throw std::runtime_error("malformed record " + path);
        }
        entries.push_back(content.substr(space + 1, size));
        position = space + 2 + size;
    }
    if (entries.empty()) {
        throw std::runtime_error("empty record " + path);
    }
    return VmRecord{entries.front(), {entries.begin() + 1, entries.end()}};
}

// The argv a VM started by an installation with only JDK_HOME set receives for the tool
// arguments `arguments`.
std::vector<std::string> plainVmArgv(const Installation& installation,
                                     const std::vector<std::string>& arguments) {
    std::vector<std::string> argv = {installation.jdk + "\\bin\\java", "-classpath",
                                     installation.jdk + "\\lib\\tools.jar", kEntryClass,
                                     "se_javac"};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    return argv;
}

// ---------------------------------------------------------------------------------------
// A started launcher

// A process started from an exact command line, in a job object of its own so that
// everything it starts can be counted and ended, with its standard output and error
// going to files.
class Launch {
  public:
    Launch(const std::string& commandLine, const std::string& outputDir,
           const std::string& currentDir = "")
        : outputPath_(outputDir + "launcher-out.txt"), errorPath_(outputDir + "launcher-err.txt") {
        job_ = UniqueHandle(CreateJobObjectA(nullptr, nullptr));
        if (!job_) {
            throw std::runtime_error(lastErrorText("CreateJobObjectA"));
        }
        JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
        limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
        SetInformationJobObject(job_.get(), JobObjectExtendedLimitInformation, &limits,
                                sizeof(limits));

        SECURITY_ATTRIBUTES inheritable{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
        const UniqueHandle input(CreateFileA("NUL", GENERIC_READ,
                                             FILE_SHARE_READ | FILE_SHARE_WRITE, &inheritable,
                                             OPEN_EXISTING, 0, nullptr));
        const UniqueHandle output(createOutputFile(outputPath_, inheritable));
        const UniqueHandle error(createOutputFile(errorPath_, inheritable));
        STARTUPINFOA startup{};
        startup.cb = sizeof(startup);
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdInput = input.get();
        startup.hStdOutput = output.get();
        startup.hStdError = error.get();

        std::vector<char> line(commandLine.begin(), commandLine.end());
        line.push_back('\0');
        PROCESS_INFORMATION info{};
        if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, TRUE, CREATE_SUSPENDED, nullptr,
                            currentDir.empty() ? nullptr : currentDir.c_str(), &startup, &info)) {
            throw std::runtime_error(lastErrorText("CreateProcessA " + commandLine));
        }
        process_ = UniqueHandle(info.hProcess);
        const UniqueHandle thread(info.hThread);
        pid_ = info.dwProcessId;
        if (!AssignProcessToJobObject(job_.get(), process_.get())) {
            TerminateProcess(process_.get(), 1);
            throw std::runtime_error(lastErrorText("AssignProcessToJobObject"));
        }
        ResumeThread(thread.get());
    }

    Launch(const Launch&) = delete;
    Launch& operator=(const Launch&) = delete;

    // Ends whatever is left of the launcher and what it started.
    ~Launch() {
        TerminateJobObject(job_.get(), 1);
        TerminateProcess(process_.get(), 1);
        pollFor(kQuickLimitMs, [this] {
            JOBOBJECT_BASIC_ACCOUNTING_INFORMATION information{};
            return !QueryInformationJobObject(job_.get(), JobObjectBasicAccountingInformation,
                                              &information, sizeof(information), nullptr) ||
                   information.ActiveProcesses == 0;
        });
    }

    DWORD pid() const { return pid_; }
    HANDLE process() const { return process_.get(); }

    std::optional<DWORD> waitForExit(DWORD limitMs) const {
        return ::waitForExit(process_.get(), limitMs);
    }

    std::string output() const { return readFile(outputPath_); }
    std::string errors() const { return readFile(errorPath_); }

    // Processes started in the job so far (the launcher included) and those still running.
    JOBOBJECT_BASIC_ACCOUNTING_INFORMATION accounting() const {
        JOBOBJECT_BASIC_ACCOUNTING_INFORMATION information{};
        if (!QueryInformationJobObject(job_.get(), JobObjectBasicAccountingInformation,
                                       &information, sizeof(information), nullptr)) {
            throw std::runtime_error(lastErrorText("QueryInformationJobObject"));
        }
        return information;
    }

  private:
    static HANDLE createOutputFile(const std::string& path, SECURITY_ATTRIBUTES& inheritable) {
        HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                  &inheritable, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE) {
            throw std::runtime_error(lastErrorText("CreateFileA " + path));
        }
        return file;
    }

    std::string outputPath_;
    std::string errorPath_;
    UniqueHandle job_;
    UniqueHandle process_;
    DWORD pid_ = 0;
};

// The launcher's command line: its path and each argument, all quoted.
std::string commandLine(const std::string& launcher, const std::vector<std::string>& arguments) {
    std::string line = quoteArgument(launcher);
    for (const std::string& argument : arguments) {
        line += ' ';
        line += quoteArgument(argument);
    }
    return line;
}

// ---------------------------------------------------------------------------------------
// Fixture

struct VmBehaviour {
    int exitCode = 0;
    int sleepMs = 0;
    std::string output;
    std::string errors;
};

void PrintTo(const VmBehaviour& behaviour, std::ostream* out) {
    *out << "exit " << behaviour.exitCode << ", sleep " << behaviour.sleepMs << " ms, stdout \""
         << behaviour.output << "\", stderr \"" << behaviour.errors << '"';
}

class LauncherTest : public ::testing::Test {
  protected:
    void TearDown() override {
        for (const std::string& dir : tempDirs_) {
            std::error_code ignored;
            std::filesystem::remove_all(dir, ignored);
        }
    }

    Installation installLauncher(const std::string& label, const std::string& config,
                                 const std::string& subdir = "") {
        Installation installation = install(label, config, subdir);
        tempDirs_.push_back(installation.base);
        return installation;
    }

    std::string tempDir(const std::string& label) {
        tempDirs_.push_back(makeTempDir(label));
        return tempDirs_.back();
    }

    // Makes the VMs started from now on record themselves into the installation's files
    // and behave as asked.
    void steerVm(const Installation& installation, const VmBehaviour& behaviour) {
        environment_.set("STAND_IN_RECORD", installation.recordPath());
        environment_.set("STAND_IN_PID_FILE", installation.pidPath());
        environment_.set("STAND_IN_EXIT", std::to_string(behaviour.exitCode));
        environment_.set("STAND_IN_SLEEP_MS", std::to_string(behaviour.sleepMs));
        environment_.set("STAND_IN_STDOUT", behaviour.output);
        environment_.set("STAND_IN_STDERR", behaviour.errors);
    }

    // The id of the VM once it has written it.
    static DWORD waitForVmPid(const Installation& installation) {
        const std::optional<DWORD> pid = pollFor(kRunLimitMs, [&]() -> std::optional<DWORD> {
            const std::string text = readFile(installation.pidPath());
            if (text.empty()) {
                return std::nullopt;
            }
            return static_cast<DWORD>(std::stoul(text));
        });
        if (!pid) {
            throw std::runtime_error("the VM did not start");
        }
        return *pid;
    }

    // The monitor: the se_javac.exe the launcher has started.
    static DWORD waitForMonitorPid(const Launch& launch) {
        const std::optional<DWORD> pid =
            pollFor(kRunLimitMs, [&] { return findChildProcess(launch.pid(), "se_javac.exe"); });
        if (!pid) {
            throw std::runtime_error("no monitor appeared");
        }
        return *pid;
    }

    ScopedEnvironment environment_;

  private:
    std::vector<std::string> tempDirs_;
};

const std::string kPlainConfig = "JDK_HOME=<jdk>\n";

// ---------------------------------------------------------------------------------------
// The VM's command line

struct CommandLineCase {
    const char* name;
    std::string config;
    std::vector<std::string> arguments;
    std::string expected; // "<jdk>" stands for the installation's JDK
};

void PrintTo(const CommandLineCase& param, std::ostream* out) {
    *out << param.name;
}

class VmCommandLineTest : public LauncherTest,
                          public ::testing::WithParamInterface<CommandLineCase> {};

TEST_P(VmCommandLineTest, VmReceivesExactCommandLine) {
    const CommandLineCase& param = GetParam();
    const Installation installation = installLauncher(param.name, param.config);
    steerVm(installation, {});
    Launch launch(commandLine(installation.launcher, param.arguments), installation.dir);

    EXPECT_EQ(launch.waitForExit(kRunLimitMs), 0u);
    const std::optional<VmRecord> record = readVmRecord(installation.recordPath());
    ASSERT_TRUE(record.has_value()) << "the VM did not run";
    EXPECT_EQ(record->commandLine, installation.expand(param.expected));
}

INSTANTIATE_TEST_SUITE_P(
    Launcher, VmCommandLineTest,
    ::testing::Values(
        CommandLineCase{"typical",
                        "JDK_HOME=<jdk>\nVERSION=2.0\n",
                        {"-J-Xmx256m", "-d", "out", "file1"},
                        "\"<jdk>\\bin\\java\" -Dtovik_version=\"2.0\" -classpath "
                        "\"<jdk>\\lib\\tools.jar\" -Xmx256m fenmoor.zandrel.se.java.toJava.Main "
                        "se_javac \"-d\" \"out\" \"file1\""},
        CommandLineCase{
            "all_keys",
            "JDK_HOME=<jdk>\nCLASSPATH=C:\\t\\a.jar\nVORNEX_PATH=C:\\vx\n"
            "VERSION=2.0\nBUILD=15\n",
            {"-J-Xmx256m", "-d", "out", "file1"},
            "\"<jdk>\\bin\\java\" -Dtovik_version=\"2.0\" -Dtovik_build=\"15\" "
            "-Dtovik_vornex=\"C:\\vx\" -classpath \"C:\\t\\a.jar;<jdk>\\lib\\tools.jar\" "
            "-Xmx256m fenmoor.zandrel.se.java.toJava.Main se_javac \"-d\" \"out\" "
            "\"file1\""}),
    [](const ::testing::TestParamInfo<CommandLineCase>& info) { return info.param.name; });

// ---------------------------------------------------------------------------------------
// Tool arguments

// A launcher command line for the table-driven cases: a name for the test and the arguments.
struct ArgumentsCase {
    const char* name;
    std::vector<std::string> arguments;
};

void PrintTo(const ArgumentsCase& param, std::ostream* out) {
    *out << param.name;
}

std::string caseName(const ::testing::TestParamInfo<ArgumentsCase>& info) {
    return info.param.name;
}

TEST_F(LauncherTest, ToolArgumentsReachTheVmIntact) {
    const std::vector<std::string> arguments = {
        "C:\\out\\", "a\"b", "\\\\\"x", "", "a b", "\\", "\"", "a\\\\b\\\\", "tab\there", "plain"};
    const Installation installation = installLauncher("arguments", kPlainConfig);
    steerVm(installation, {});
    Launch launch(commandLine(installation.launcher, arguments), installation.dir);

    EXPECT_EQ(launch.waitForExit(kRunLimitMs), 0u);
    const std::optional<VmRecord> record = readVmRecord(installation.recordPath());
    ASSERT_TRUE(record.has_value()) << "the VM did not run";
    EXPECT_EQ(record->argv, plainVmArgv(installation, arguments));
}

// Only argc 4 with "-monitor" exactly selects the monitor; anything else is a launcher run
// whose arguments go to the tool.
class ModeDispatchTest : public LauncherTest,
                         public ::testing::WithParamInterface<ArgumentsCase> {};

TEST_P(ModeDispatchTest, RunsAsLauncher) {
    const Installation installation = installLauncher("dispatch", kPlainConfig);
    steerVm(installation, {});
    Launch launch(commandLine(installation.launcher, GetParam().arguments), installation.dir);

    EXPECT_EQ(launch.waitForExit(kRunLimitMs), 0u);
    const std::optional<VmRecord> record = readVmRecord(installation.recordPath());
    ASSERT_TRUE(record.has_value()) << "the VM did not run";
    EXPECT_EQ(record->argv, plainVmArgv(installation, GetParam().arguments));
}

INSTANTIATE_TEST_SUITE_P(
    Launcher, ModeDispatchTest,
    ::testing::Values(ArgumentsCase{"monitor_one_number", {"-monitor", "5"}},
                      ArgumentsCase{"monitor_three_numbers", {"-monitor", "5", "6", "7"}},
                      ArgumentsCase{"capital_Monitor", {"-Monitor", "1", "2"}}),
    caseName);

// ---------------------------------------------------------------------------------------
// Exit code and output of the VM

class VmResultTest : public LauncherTest, public ::testing::WithParamInterface<VmBehaviour> {};

TEST_P(VmResultTest, ExitCodeAndOutputPassThrough) {
    const VmBehaviour& behaviour = GetParam();
    const Installation installation = installLauncher("result", kPlainConfig);
    steerVm(installation, behaviour);
    Launch launch(commandLine(installation.launcher, {"-d", "out"}), installation.dir);

    EXPECT_EQ(launch.waitForExit(kRunLimitMs), static_cast<DWORD>(behaviour.exitCode));
    EXPECT_EQ(launch.output(), behaviour.output);
    EXPECT_EQ(launch.errors(), behaviour.errors);
}

INSTANTIATE_TEST_SUITE_P(Launcher, VmResultTest,
                         ::testing::Values(VmBehaviour{0, 0, "", ""},
                                           VmBehaviour{3, 0, "vm output 3", "vm errors 3"},
                                           VmBehaviour{255, 0, "vm output 255", "vm errors 255"}),
                         [](const ::testing::TestParamInfo<VmBehaviour>& info) {
                             return "exit_" + std::to_string(info.param.exitCode);
                         });

// ---------------------------------------------------------------------------------------
// Start failure

TEST_F(LauncherTest, MissingVmIsReportedAndStartsNoMonitor) {
    const Installation installation = installLauncher("missing", "JDK_HOME=<dir>no-such-jdk\n");
    steerVm(installation, {});
    Launch launch(commandLine(installation.launcher, {"-d", "out"}), installation.dir);

    EXPECT_EQ(launch.waitForExit(kRunLimitMs), 1u);
    const std::string output = launch.output();
    EXPECT_EQ(output.substr(0, std::string(kOutputPrefix).size()), kOutputPrefix);
    EXPECT_GT(output.size(), std::string(kOutputPrefix).size()) << "no system message";
    EXPECT_EQ(launch.errors(), "");
    // Nothing but the launcher ran in its job: neither a VM nor a monitor.
    EXPECT_EQ(launch.accounting().TotalProcesses, 1u);
}

// ---------------------------------------------------------------------------------------
// Supervision

TEST_F(LauncherTest, KillingTheLauncherEndsTheVm) {
    const Installation installation = installLauncher("kill-launcher", kPlainConfig);
    steerVm(installation, {7, 60000, "", ""});
    Launch launch(commandLine(installation.launcher, {"-d", "out"}), installation.dir);
    const UniqueHandle vm = openProcess(waitForVmPid(installation));
    const UniqueHandle monitor = openProcess(waitForMonitorPid(launch));

    ASSERT_EQ(waitForExit(vm.get(), 0), std::nullopt) << "the VM should still sleep";
    ASSERT_TRUE(TerminateProcess(launch.process(), 9));
    EXPECT_EQ(waitForExit(vm.get(), kQuickLimitMs), 1u);
    EXPECT_EQ(waitForExit(monitor.get(), kQuickLimitMs), 0u);
}

TEST_F(LauncherTest, KillingTheMonitorEndsTheVmAndTheLauncher) {
    const Installation installation = installLauncher("kill-monitor", kPlainConfig);
    steerVm(installation, {7, 60000, "", ""});
    Launch launch(commandLine(installation.launcher, {"-d", "out"}), installation.dir);
    const UniqueHandle vm = openProcess(waitForVmPid(installation));
    const UniqueHandle monitor = openProcess(waitForMonitorPid(launch));

    ASSERT_EQ(waitForExit(vm.get(), 0), std::nullopt) << "the VM should still sleep";
    ASSERT_TRUE(TerminateProcess(monitor.get(), 9));
    EXPECT_EQ(waitForExit(vm.get(), kQuickLimitMs), 1u);
    EXPECT_EQ(launch.waitForExit(kQuickLimitMs), 1u);
}

TEST_F(LauncherTest, MonitorEndsAfterNormalEnd) {
    const Installation installation = installLauncher("normal-end", kPlainConfig);
    steerVm(installation, {0, 1500, "", ""});
    Launch launch(commandLine(installation.launcher, {"-d", "out"}), installation.dir);
    const UniqueHandle vm = openProcess(waitForVmPid(installation));
    const UniqueHandle monitor = openProcess(waitForMonitorPid(launch));

    EXPECT_EQ(launch.waitForExit(kRunLimitMs), 0u);
    EXPECT_EQ(waitForExit(vm.get(), 0), 0u);
    EXPECT_EQ(waitForExit(monitor.get(), kQuickLimitMs), 0u);
    EXPECT_TRUE(pollFor(kQuickLimitMs, [&] { return launch.accounting().ActiveProcesses == 0; }))
        << "something the launcher started still runs";
    EXPECT_EQ(launch.accounting().TotalProcesses, 3u) << "launcher, VM and monitor";
}

// The monitor started by hand with numbers that are no handles of its own, or no numbers:
// it ends at once, writes nothing and starts nothing.
class MonitorByHandTest : public LauncherTest,
                          public ::testing::WithParamInterface<ArgumentsCase> {};

TEST_P(MonitorByHandTest, EndsAtOnceWithoutOutput) {
    const Installation installation = installLauncher("monitor", kPlainConfig);
    steerVm(installation, {});
    Launch launch(commandLine(installation.launcher, GetParam().arguments), installation.dir);

    EXPECT_EQ(launch.waitForExit(kQuickLimitMs), 0u);
    EXPECT_EQ(launch.output(), "");
    EXPECT_EQ(launch.errors(), "");
    EXPECT_EQ(launch.accounting().TotalProcesses, 1u);
}

INSTANTIATE_TEST_SUITE_P(
    Launcher, MonitorByHandTest,
    ::testing::Values(ArgumentsCase{"numbers_not_handles", {"-monitor", "123456", "654321"}},
                      ArgumentsCase{"not_numbers", {"-monitor", "abc", "def"}}),
    caseName);

// ---------------------------------------------------------------------------------------
// How the launcher is named

// The monitor is started under the launcher's own name. With a space in the directory, an
// unquoted name would start "<base>with.exe" (Windows tries the shorter prefix first). The
// decoy there is a copy of the launcher that finds no configuration beside it and ends at
// once, so a monitor started as the decoy would end the sleeping VM early.
TEST_F(LauncherTest, DirectoryWithSpace) {
    const Installation installation = installLauncher("space", kPlainConfig, "with space");
    copyFile(buildPath(SE_LAUNCHER_PATH), installation.base + "with.exe");
    steerVm(installation, {0, 1000, "", ""});
    Launch launch(commandLine(installation.launcher, {"-d", "out"}), installation.dir);

    EXPECT_EQ(launch.waitForExit(kRunLimitMs), 0u);
    const std::optional<VmRecord> record = readVmRecord(installation.recordPath());
    ASSERT_TRUE(record.has_value()) << "the VM did not run";
    EXPECT_EQ(record->argv, plainVmArgv(installation, {"-d", "out"}));
}

TEST_F(LauncherTest, BareNameFoundThroughPath) {
    const Installation installation = installLauncher("path", kPlainConfig);
    const std::string elsewhere = tempDir("elsewhere");
    std::string pathValue = installation.dir.substr(0, installation.dir.size() - 1);
    if (const std::optional<std::string> previous = ScopedEnvironment::get("PATH")) {
        pathValue += ';' + *previous;
    }
    environment_.set("PATH", pathValue);
    steerVm(installation, {0, 500, "", ""});
    Launch launch("se_javac -d out file1", installation.dir, elsewhere);

    EXPECT_EQ(launch.waitForExit(kRunLimitMs), 0u) << launch.output() << launch.errors();
    const std::optional<VmRecord> record = readVmRecord(installation.recordPath());
    ASSERT_TRUE(record.has_value()) << "the VM did not run";
    EXPECT_EQ(record->argv, plainVmArgv(installation, {"-d", "out", "file1"}));
    EXPECT_EQ(launch.accounting().TotalProcesses, 3u) << "launcher, VM and monitor";
}

} // namespace
