#include "launcher_run_win32.h"

// After windows.h, which it needs.
#include <tlhelp32.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <functional>
#include <iostream>
#include <stdexcept>

#include "javacmd/quoting.h"
#include "start_for_test_win32.h"
#include "test_support.h"

namespace launcher_run {

using testing_support::buildPath;
using testing_support::makeTempDir;
using testing_support::readFile;
using testing_support::writeFile;

namespace {

HANDLE createOutputFile(const std::string& path, SECURITY_ATTRIBUTES& inheritable) {
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              &inheritable, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        throw std::runtime_error(lastErrorText("CreateFileA " + path));
    }
    return file;
}

} // namespace

std::string systemText(DWORD code) {
    char* buffer = nullptr;
    const DWORD length = FormatMessageA(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, code, 0, reinterpret_cast<LPSTR>(&buffer), 0, nullptr);
    if (length == 0) {
        return std::to_string(code);
    }
    std::string text(buffer, length);
    LocalFree(buffer);
    return text;
}

std::string startFailure(const std::string& what, DWORD code) {
    std::string text = systemText(code);
    while (!text.empty() && (text.back() == '\r' || text.back() == '\n')) {
        text.pop_back();
    }
    return asWritten("\nCannot execute " + what + " : " + text + "\n");
}

// ---------------------------------------------------------------------------------------
// Handles and processes

std::string lastErrorText(const std::string& what) {
    return what + " failed with error " + std::to_string(GetLastError());
}

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

UniqueHandle openProcess(DWORD pid) {
    UniqueHandle process(OpenProcess(
        SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION | PROCESS_TERMINATE, FALSE, pid));
    if (!process) {
        throw std::runtime_error(lastErrorText("OpenProcess " + std::to_string(pid)));
    }
    return process;
}

namespace {

// The first running process for which `matches` holds, in a snapshot of all.
template <typename Matches> std::optional<PROCESSENTRY32> findProcess(Matches matches) {
    UniqueHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!snapshot) {
        throw std::runtime_error(lastErrorText("CreateToolhelp32Snapshot"));
    }
    PROCESSENTRY32 entry{};
    entry.dwSize = sizeof(entry);
    for (BOOL found = Process32First(snapshot.get(), &entry); found;
         found = Process32Next(snapshot.get(), &entry)) {
        if (matches(entry)) {
            return entry;
        }
    }
    return std::nullopt;
}

} // namespace

std::optional<DWORD> findChildProcess(DWORD parentPid, const std::string& exeName) {
    const std::optional<PROCESSENTRY32> entry = findProcess([&](const PROCESSENTRY32& process) {
        return process.th32ParentProcessID == parentPid &&
               lstrcmpiA(process.szExeFile, exeName.c_str()) == 0;
    });
    return entry ? std::optional<DWORD>(entry->th32ProcessID) : std::nullopt;
}

std::string imagePathOf(DWORD pid) {
    const UniqueHandle process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid));
    char path[MAX_PATH * 4] = {};
    DWORD size = sizeof(path);
    if (!process || !QueryFullProcessImageNameA(process.get(), 0, path, &size)) {
        throw std::runtime_error(lastErrorText("QueryFullProcessImageNameA"));
    }
    return std::string(path, size);
}

std::optional<std::string> exeNameOf(DWORD pid) {
    const std::optional<PROCESSENTRY32> entry =
        findProcess([&](const PROCESSENTRY32& process) { return process.th32ProcessID == pid; });
    return entry ? std::optional<std::string>(entry->szExeFile) : std::nullopt;
}

bool underWine() {
    return GetProcAddress(GetModuleHandleA("ntdll.dll"), "wine_get_version") != nullptr;
}

std::vector<UnixProcess> unixProcessesNaming(const std::string& text) {
    std::vector<UnixProcess> found;
    WIN32_FIND_DATAA entry{};
    HANDLE search = FindFirstFileA("Z:\\proc\\*", &entry);
    if (search == INVALID_HANDLE_VALUE) {
        return found;
    }
    do {
        const std::string name = entry.cFileName;
        if (name.empty() || name.find_first_not_of("0123456789") != std::string::npos) {
            continue;
        }
        std::string commandLine = readFile("Z:\\proc\\" + name + "\\cmdline");
        std::replace(commandLine.begin(), commandLine.end(), '\0', ' ');
        if (commandLine.find(text) != std::string::npos) {
            found.push_back(UnixProcess{std::stoul(name), commandLine});
        }
    } while (FindNextFileA(search, &entry));
    FindClose(search);
    return found;
}

namespace {

// Starts /bin/sh -c <command> as a Unix program; the process handle is returned.
UniqueHandle startUnixShell(const std::string& command) {
    const std::string line = "sh -c \"" + command + "\"";
    STARTUPINFOA startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info{};
    if (!test_start::startForTest(line, std::cout, [&] {
            std::vector<char> buffer(line.begin(), line.end());
            buffer.push_back('\0');
            return CreateProcessA("Z:\\bin\\sh", buffer.data(), nullptr, nullptr, FALSE, 0, nullptr,
                                  nullptr, &startup, &info) != FALSE;
        })) {
        throw std::runtime_error(lastErrorText("CreateProcessA " + line));
    }
    CloseHandle(info.hThread);
    return UniqueHandle(info.hProcess);
}

} // namespace

void killUnixProcess(unsigned long pid) {
    // The shell's own kill: /bin/sh is there on every Debian system, /bin/kill is not.
    const UniqueHandle shell = startUnixShell("kill -9 " + std::to_string(pid));
    WaitForSingleObject(shell.get(), kQuickLimitMs);
}

std::string unixPathOf(const std::string& path) {
    using UnixFileName = char*(CDECL*)(const WCHAR*);
    const auto unixFileName = reinterpret_cast<UnixFileName>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleA("kernel32.dll"), "wine_get_unix_file_name")));
    std::wstring wide(path.size() + 1, L'\0');
    MultiByteToWideChar(CP_ACP, 0, path.c_str(), -1, wide.data(), static_cast<int>(wide.size()));
    char* name = unixFileName != nullptr ? unixFileName(wide.c_str()) : nullptr;
    if (name == nullptr) {
        throw std::runtime_error("no Unix path for " + path);
    }
    std::string result = name;
    HeapFree(GetProcessHeap(), 0, name);
    return result;
}

void runUnixShell(const std::string& command, const std::function<bool()>& done) {
    startUnixShell(command);
    // The handle of a Unix program may be signalled before the program has run.
    if (!pollFor(kQuickLimitMs, done)) {
        throw std::runtime_error("no effect seen of " + command);
    }
}

void makeUnixSymlink(const std::string& target, const std::string& link) {
    runUnixShell("/bin/ln -s '" + unixPathOf(target) + "' '" + unixPathOf(link) + "'",
                 [&] { return GetFileAttributesA(link.c_str()) != INVALID_FILE_ATTRIBUTES; });
}

// ---------------------------------------------------------------------------------------
// Environment of the processes the tests start

ScopedEnvironment::~ScopedEnvironment() {
    for (const auto& [name, value] : saved_) {
        SetEnvironmentVariableA(name.c_str(), value ? value->c_str() : nullptr);
    }
}

void ScopedEnvironment::set(const std::string& name, const std::string& value) {
    if (saved_.count(name) == 0) {
        saved_[name] = get(name);
    }
    if (!SetEnvironmentVariableA(name.c_str(), value.c_str())) {
        throw std::runtime_error(lastErrorText("SetEnvironmentVariableA " + name));
    }
}

std::optional<std::string> ScopedEnvironment::get(const std::string& name) {
    const DWORD size = GetEnvironmentVariableA(name.c_str(), nullptr, 0);
    if (size == 0) {
        return std::nullopt;
    }
    std::string value(size, '\0');
    value.resize(GetEnvironmentVariableA(name.c_str(), value.data(), size));
    return value;
}

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

std::string asWritten(const std::string& text) {
    return replaceAll(text, "\n", "\r\n");
}

Installation install(const std::string& label, const std::string& config, const std::string& subdir,
                     const std::string& identity) {
    Installation installation;
    installation.identity = identity;
    installation.base = makeTempDir(label);
    installation.dir = installation.base;
    if (!subdir.empty()) {
        installation.dir += subdir;
        makeDir(installation.dir);
        installation.dir += '\\';
    }
    installation.launcher = installation.dir + identity + ".exe";
    installation.jdk = installation.dir + "jdk";
    copyFile(testing_support::launcherBuildPath(identity), installation.launcher);
    makeDir(installation.jdk);
    makeDir(installation.jdk + "\\bin");
    copyFile(buildPath(SE_STAND_IN_VM_PATH), installation.jdk + "\\bin\\java.exe");
    writeFile(installation.dir + "morle_tool.cfg", installation.expand(config));
    return installation;
}

// ---------------------------------------------------------------------------------------
// The stand-in VM's record

std::optional<std::vector<std::string>> readEntries(const std::string& path) {
    if (GetFileAttributesA(path.c_str()) == INVALID_FILE_ATTRIBUTES) {
        return std::nullopt;
    }
    return testing_support::parseRecord(readFile(path));
}

std::optional<VmRecord> readVmRecord(const std::string& path) {
    const std::optional<std::vector<std::string>> entries = readEntries(path);
    if (!entries) {
        return std::nullopt;
    }
    if (entries->empty()) {
        throw std::runtime_error("empty record " + path);
    }
    return VmRecord{entries->front(), {entries->begin() + 1, entries->end()}};
}

std::vector<std::string> sortedEnvironment(const char* block) {
    std::vector<std::string> entries;
    for (const char* entry = block; *entry != '\0'; entry += std::strlen(entry) + 1) {
        if (*entry != '=') {
            entries.emplace_back(entry);
        }
    }
    std::sort(entries.begin(), entries.end());
    return entries;
}

// ---------------------------------------------------------------------------------------
// A started launcher

namespace {

// How often the processes of a Launch's job are looked at.
constexpr DWORD kSampleMs = 5;

} // namespace

RedirectedStreams::RedirectedStreams(const std::string& outputPath, const std::string& errorPath) {
    for (const DWORD stream : {STD_INPUT_HANDLE, STD_OUTPUT_HANDLE, STD_ERROR_HANDLE}) {
        SetHandleInformation(GetStdHandle(stream), HANDLE_FLAG_INHERIT, 0);
    }
    SECURITY_ATTRIBUTES inheritable{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    input_ = UniqueHandle(CreateFileA("NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                      &inheritable, OPEN_EXISTING, 0, nullptr));
    output_ = UniqueHandle(createOutputFile(outputPath, inheritable));
    error_ = UniqueHandle(createOutputFile(errorPath, inheritable));
}

Launch::Launch(const std::string& commandLine, const std::string& outputDir,
               const std::string& currentDir, const std::string& applicationName)
    : outputPath_(outputDir + "launcher-out.txt"), errorPath_(outputDir + "launcher-err.txt") {
    job_ = UniqueHandle(CreateJobObjectA(nullptr, nullptr));
    if (!job_) {
        throw std::runtime_error(lastErrorText("CreateJobObjectA"));
    }
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
    SetInformationJobObject(job_.get(), JobObjectExtendedLimitInformation, &limits, sizeof(limits));

    const RedirectedStreams streams(outputPath_, errorPath_);
    STARTUPINFOA startup{};
    startup.cb = sizeof(startup);
    streams.fill(startup);

    PROCESS_INFORMATION info{};
    if (!test_start::startForTest(commandLine, std::cout, [&] {
            std::vector<char> line(commandLine.begin(), commandLine.end());
            line.push_back('\0');
            return CreateProcessA(applicationName.empty() ? nullptr : applicationName.c_str(),
                                  line.data(), nullptr, nullptr, TRUE, CREATE_SUSPENDED, nullptr,
                                  currentDir.empty() ? nullptr : currentDir.c_str(), &startup,
                                  &info) != FALSE;
        })) {
        throw std::runtime_error(lastErrorText("CreateProcessA " + commandLine.substr(0, 200)));
    }
    process_ = UniqueHandle(info.hProcess);
    const UniqueHandle thread(info.hThread);
    pid_ = info.dwProcessId;
    if (!AssignProcessToJobObject(job_.get(), process_.get())) {
        TerminateProcess(process_.get(), 1);
        throw std::runtime_error(lastErrorText("AssignProcessToJobObject"));
    }
    stopSampling_ = UniqueHandle(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    sampler_ = std::thread([this] {
        do {
            try {
                sampleMembers();
            } catch (const std::exception&) {
                // Looked at again in a moment, and once more when the test asks.
            }
        } while (WaitForSingleObject(stopSampling_.get(), kSampleMs) == WAIT_TIMEOUT);
    });
    ResumeThread(thread.get());
}

Launch::~Launch() {
    TerminateJobObject(job_.get(), 1);
    TerminateProcess(process_.get(), 1);
    allEndWithin(kQuickLimitMs);
    SetEvent(stopSampling_.get());
    sampler_.join();
}

std::optional<DWORD> Launch::waitForExit(DWORD limitMs) const {
    return launcher_run::waitForExit(process_.get(), limitMs);
}

std::string Launch::output() const {
    return readFile(outputPath_);
}

std::string Launch::errors() const {
    return readFile(errorPath_);
}

JOBOBJECT_BASIC_ACCOUNTING_INFORMATION Launch::accounting() const {
    JOBOBJECT_BASIC_ACCOUNTING_INFORMATION information{};
    if (!QueryInformationJobObject(job_.get(), JobObjectBasicAccountingInformation, &information,
                                   sizeof(information), nullptr)) {
        throw std::runtime_error(lastErrorText("QueryInformationJobObject"));
    }
    return information;
}

void Launch::sampleMembers() const {
    const std::vector<DWORD> running = runningProcessIds();
    const std::lock_guard<std::mutex> lock(membersMutex_);
    bool unnamed = false;
    for (const DWORD pid : running) {
        const auto member = std::find_if(members_.begin(), members_.end(),
                                         [pid](const JobMember& seen) { return seen.pid == pid; });
        if (member == members_.end()) {
            members_.push_back(JobMember{pid, 0, false, ""});
            unnamed = true;
        } else {
            unnamed = unnamed || member->exeName.empty();
        }
    }
    if (unnamed) {
        nameFromSnapshot(members_, running);
    }
}

StartedProcesses Launch::processesStarted() const {
    sampleMembers();
    const DWORD joined = accounting().TotalProcesses;
    const std::lock_guard<std::mutex> lock(membersMutex_);
    return startedByLauncher(members_, pid_, joined, std::cout);
}

bool Launch::allEndWithin(DWORD limitMs) const {
    return pollFor(limitMs, [this] {
        JOBOBJECT_BASIC_ACCOUNTING_INFORMATION information{};
        return !QueryInformationJobObject(job_.get(), JobObjectBasicAccountingInformation,
                                          &information, sizeof(information), nullptr) ||
               information.ActiveProcesses == 0;
    });
}

std::vector<DWORD> Launch::runningProcessIds() const {
    return jobProcessIds(job_.get());
}

bool Launch::endAll(DWORD limitMs) const {
    TerminateJobObject(job_.get(), 1);
    return allEndWithin(limitMs);
}

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

void PrintTo(const VmBehaviour& behaviour, std::ostream* out) {
    *out << "exit " << behaviour.exitCode << ", sleep " << behaviour.sleepMs << " ms, stdout \""
         << behaviour.output << "\", stderr \"" << behaviour.errors << '"'
         << (behaviour.held ? ", held" : "");
}

void LauncherTest::TearDown() {
    for (const std::string& dir : tempDirs_) {
        std::error_code ignored;
        std::filesystem::remove_all(dir, ignored);
    }
}

Installation LauncherTest::installLauncher(const std::string& label, const std::string& config,
                                           const std::string& subdir, const std::string& identity) {
    Installation installation = install(label, config, subdir, identity);
    tempDirs_.push_back(installation.base);
    return installation;
}

std::string LauncherTest::tempDir(const std::string& label) {
    tempDirs_.push_back(makeTempDir(label));
    return tempDirs_.back();
}

void LauncherTest::steerVm(const Installation& installation, const VmBehaviour& behaviour) {
    environment_.set("STAND_IN_RECORD", installation.recordPath());
    environment_.set("STAND_IN_ENVIRONMENT", installation.environmentPath());
    environment_.set("STAND_IN_PID_FILE", installation.pidPath());
    environment_.set("STAND_IN_EXIT", std::to_string(behaviour.exitCode));
    environment_.set("STAND_IN_SLEEP_MS", std::to_string(behaviour.sleepMs));
    environment_.set("STAND_IN_STDOUT", behaviour.output);
    environment_.set("STAND_IN_STDERR", behaviour.errors);
    DeleteFileA(installation.releasePath().c_str());
    environment_.set("STAND_IN_RELEASE", behaviour.held ? installation.releasePath() : "");
}

void LauncherTest::releaseVm(const Installation& installation) {
    writeFile(installation.releasePath(), "");
}

DWORD LauncherTest::waitForVmPid(const Installation& installation) {
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

DWORD LauncherTest::waitForMonitorPid(const Launch& launch, const std::string& identity) {
    const std::optional<DWORD> pid =
        pollFor(kRunLimitMs, [&] { return findChildProcess(launch.pid(), identity + ".exe"); });
    if (!pid) {
        throw std::runtime_error("no monitor appeared");
    }
    return *pid;
}

} // namespace launcher_run
