#pragma once

// The processes in the job of a launcher run under test (see Launch in launcher_run_win32.h):
// which of them run, their names as process snapshots show them, and which of them the
// launcher started.
#include <windows.h>

#include <ostream>
#include <string>
#include <vector>

namespace launcher_run {

// The ids of the processes that run in a job, those of the jobs nested in it included.
std::vector<DWORD> jobProcessIds(HANDLE job);

// A process seen in a job: its id, and its parent's id and its executable's name once a
// process snapshot has shown it. Wine shows a new process without a name for its first few
// milliseconds, and one that has not yet run, or no longer runs, not at all.
struct JobMember {
    DWORD pid = 0;
    DWORD parentPid = 0;
    bool inSnapshot = false;
    std::string exeName;
};

// Notes the parent and the name of the members that have no name yet and still run, from one
// process snapshot; true when one is left without a name.
bool nameFromSnapshot(std::vector<JobMember>& members, const std::vector<DWORD>& running);

// The processes a launcher run started: how many the launcher accounts for, each of them
// (shown when a check of the number fails), and how many more processes of the job cannot be
// told to be the launcher's or not.
struct StartedProcesses {
    DWORD count = 0;
    DWORD unattributed = 0;
    std::vector<std::string> seen; // "<id> <executable's name, or ?> (started by <id>)"
};
// A number of processes is decided on what can be attributed: the launcher accounts for no
// more than `count` processes, and for that many once those that cannot be attributed either
// way are added. So an extra process of the launcher's fails it, and so does a missing one
// that no unattributed process could be; a process Wine could not show does not.
inline bool operator==(const StartedProcesses& started, DWORD count) {
    return started.count <= count && count <= started.count + started.unattributed;
}
void PrintTo(const StartedProcesses& started, std::ostream* out);

// The members the launcher (`launcherPid`) accounts for: itself, each process started by one
// of them, and each one of the launcher's own executable, whoever started it; never a program
// of Wine's own (one of the system directory). Every other member is left out, and so are
// processes that joined the job (`joined` in all) but ended before they were seen; each is
// named on `notes`, with the reason. Those that no snapshot showed, and those never seen,
// cannot be attributed either way: a process that Wine ends in its start shows in the job
// but in no snapshot (a monitor whose launcher ended while it started, a start that Wine
// failed with an internal error).
StartedProcesses startedByLauncher(const std::vector<JobMember>& members, DWORD launcherPid,
                                   DWORD joined, std::ostream& notes);

} // namespace launcher_run
