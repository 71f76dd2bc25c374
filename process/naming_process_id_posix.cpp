// Where there are no pidfds, the monitor knows the launcher by a pipe whose write end only the
// launcher holds, and the VM by its process id. The VM is not the monitor's child, so its id
// could name another process by the time the monitor acts: the monitor ends it only while the
// id names a process started when the VM was (for a VM whose exec cleared its parent-death
// signal: a setuid, setgid or file-capability java). Without /proc that cannot be told, and
// such a VM is left alone.
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>

#include "process/naming_posix.h"

namespace platform::posix {

namespace {

// The pipe that stands for the launcher: its read end, the monitor's, becomes readable once
// the write end is closed, when the launcher ends however it ends, as nothing else holds it
// (close-on-exec keeps it from the VM, and the monitor closes it).
class LauncherPipe {
  public:
    // 0, or the errno when the pipe cannot be made.
    int open() {
        std::array<int, 2> ends{};
        if (pipe2(ends.data(), O_CLOEXEC) != 0) {
            return errno;
        }
        writeEnd_ = ends[1];
        readEnd_ = placeHandle(ends[0]);
        return readEnd_ < 0 ? errno : 0;
    }
    int readEnd() const { return readEnd_; }

  private:
    int readEnd_ = -1;
    int writeEnd_ = -1;
};

// Field 22 of /proc/<pid>/stat, the start time in clock ticks since boot; 0 where it cannot be
// read (no /proc, no such process).
unsigned long long startTimeOf(pid_t pid) {
    const std::string path = "/proc/" + std::to_string(pid) + "/stat";
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return 0;
    }
    std::array<char, 1024> text{};
    const ssize_t length = read(fd, text.data(), text.size() - 1);
    close(fd);
    if (length <= 0) {
        return 0;
    }
    // The command name in parentheses may hold anything; the fields follow the last ')',
    // the state (field 3) first.
    const char* field = std::strrchr(text.data(), ')');
    for (int number = 2; field != nullptr && number < 22; ++number) {
        field = std::strchr(field + 1, ' ');
    }
    return field != nullptr ? std::strtoull(field + 1, nullptr, 10) : 0;
}

class ProcessIdNaming final : public Naming {
  public:
    int nameLauncher() override { return launcher_.open(); }
    int nameVm(pid_t vm) override {
        vm_ = vm;
        vmStartTime_ = startTimeOf(vm);
        return 0;
    }

    std::array<int, 2> monitorHandles() const override { return {launcher_.readEnd(), -1}; }
    void endVmWithLauncher() const override {
        waitReadable(launcher_.readEnd());
        if (vmStartTime_ != 0 && startTimeOf(vm_) == vmStartTime_) {
            kill(vm_, SIGKILL);
        }
    }

  private:
    LauncherPipe launcher_;
    pid_t vm_ = 0;
    unsigned long long vmStartTime_ = 0;
};

} // namespace

std::unique_ptr<Naming> processIdNaming() {
    return std::make_unique<ProcessIdNaming>();
}

} // namespace platform::posix
