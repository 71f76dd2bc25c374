#include "job_processes_win32.h"

// After windows.h, which it needs.
#include <tlhelp32.h>

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <set>
#include <stdexcept>

namespace launcher_run {

std::vector<DWORD> jobProcessIds(HANDLE job) {
    // Room for far more processes than a launcher run starts. The ids are copied out of the
    // buffer: read through the structure's array of one, the compiler may take it to hold no
    // more than one id (at -O3 it did, and only the first process of the list was seen).
    constexpr std::size_t kRoom = 64;
    constexpr std::size_t kIdsAt = offsetof(JOBOBJECT_BASIC_PROCESS_ID_LIST, ProcessIdList);
    std::vector<ULONG_PTR> buffer(kIdsAt / sizeof(ULONG_PTR) + kRoom);
    auto* list = reinterpret_cast<JOBOBJECT_BASIC_PROCESS_ID_LIST*>(buffer.data());
    if (!QueryInformationJobObject(job, JobObjectBasicProcessIdList, list,
                                   static_cast<DWORD>(buffer.size() * sizeof(ULONG_PTR)),
                                   nullptr)) {
        throw std::runtime_error("QueryInformationJobObject failed with error " +
                                 std::to_string(GetLastError()));
    }
    const std::size_t count = std::min<std::size_t>(list->NumberOfProcessIdsInList, kRoom);
    const auto* ids = reinterpret_cast<const unsigned char*>(buffer.data()) + kIdsAt;
    std::vector<DWORD> result;
    for (std::size_t i = 0; i < count; ++i) {
        ULONG_PTR id = 0;
        std::memcpy(&id, ids + i * sizeof(id), sizeof(id));
        result.push_back(static_cast<DWORD>(id));
    }
    return result;
}

bool nameFromSnapshot(std::vector<JobMember>& members, const std::vector<DWORD>& running) {
    // Only a snapshot and the job's list of ids are used: a handle of the test's to a process
    // that Wine fails to set up has the wineserver crash once that process goes.
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE) {
        throw std::runtime_error("CreateToolhelp32Snapshot failed with error " +
                                 std::to_string(GetLastError()));
    }
    PROCESSENTRY32 entry{};
    entry.dwSize = sizeof(entry);
    for (BOOL found = Process32First(snapshot, &entry); found;
         found = Process32Next(snapshot, &entry)) {
        for (JobMember& member : members) {
            if (member.pid == entry.th32ProcessID && member.exeName.empty() &&
                std::find(running.begin(), running.end(), member.pid) != running.end()) {
                member.inSnapshot = true;
                member.parentPid = entry.th32ParentProcessID;
                member.exeName = entry.szExeFile;
            }
        }
    }
    CloseHandle(snapshot);
    return std::any_of(members.begin(), members.end(),
                       [](const JobMember& member) { return member.exeName.empty(); });
}

void PrintTo(const StartedProcesses& started, std::ostream* out) {
    *out << started.count << " processes of the launcher's";
    if (started.unattributed > 0) {
        *out << " and " << started.unattributed << " that cannot be attributed";
    }
    for (const std::string& seen : started.seen) {
        *out << "\n  " << seen;
    }
}

namespace {

// Whether a program of this name lies in the system directory: one of Wine's own (or the
// system's), not one a test installs.
bool isSystemProgram(const std::string& exeName) {
    char directory[MAX_PATH] = {};
    const UINT length = GetSystemDirectoryA(directory, MAX_PATH);
    if (exeName.empty() || length == 0 || length >= MAX_PATH) {
        return false;
    }
    const DWORD attributes =
        GetFileAttributesA((std::string(directory, length) + '\\' + exeName).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

std::string described(const JobMember& member) {
    return std::to_string(member.pid) + " " + (member.exeName.empty() ? "?" : member.exeName) +
           " (started by " + std::to_string(member.parentPid) + ")";
}

// Adds to `set` each member for which `joins` holds, until no other does: `joins` may ask
// whether another member is in the set already.
template <typename Joins>
void grow(std::set<DWORD>& set, const std::vector<JobMember>& members, Joins joins) {
    for (bool grown = true; grown;) {
        grown = false;
        for (const JobMember& member : members) {
            if (set.count(member.pid) == 0 && joins(member)) {
                set.insert(member.pid);
                grown = true;
            }
        }
    }
}

} // namespace

StartedProcesses startedByLauncher(const std::vector<JobMember>& members, DWORD launcherPid,
                                   DWORD joined, std::ostream& notes) {
    const auto launcher =
        std::find_if(members.begin(), members.end(),
                     [launcherPid](const JobMember& member) { return member.pid == launcherPid; });
    const std::string launcherFile = launcher != members.end() ? launcher->exeName : "";
    const auto ofLauncherFile = [&](const JobMember& member) {
        return !launcherFile.empty() &&
               lstrcmpiA(member.exeName.c_str(), launcherFile.c_str()) == 0;
    };
    std::set<DWORD> accounted{launcherPid};
    grow(accounted, members, [&](const JobMember& member) {
        return !isSystemProgram(member.exeName) &&
               (accounted.count(member.parentPid) != 0 || ofLauncherFile(member));
    });
    // Those of no known starter: no snapshot showed them, or their starter is one of them.
    std::set<DWORD> unknown;
    grow(unknown, members, [&](const JobMember& member) {
        return accounted.count(member.pid) == 0 && !isSystemProgram(member.exeName) &&
               (!member.inSnapshot || unknown.count(member.parentPid) != 0);
    });

    StartedProcesses started;
    started.count = static_cast<DWORD>(accounted.size());
    started.unattributed = static_cast<DWORD>(unknown.size());
    for (const JobMember& member : members) {
        if (accounted.count(member.pid) != 0) {
            started.seen.push_back(described(member));
            continue;
        }
        notes << "not counted: process " << described(member) << ", "
              << (isSystemProgram(member.exeName) ? "a program of Wine's own"
                  : unknown.count(member.pid) != 0
                      ? "shown by no process snapshot, or started by one that was not: who "
                        "started it is unknown"
                      : "not started by the launcher, nor from its file")
              << std::endl;
    }
    const std::size_t seen = members.size() + (launcher == members.end() ? 1 : 0);
    if (joined > seen) {
        started.unattributed += static_cast<DWORD>(joined - seen);
        notes << "not counted: " << joined - seen
              << " process(es) that joined the job and ended before they were seen" << std::endl;
    }
    return started;
}

} // namespace launcher_run
