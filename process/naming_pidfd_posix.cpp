// The monitor knows the launcher and the VM by pidfds: it waits until the launcher's becomes
// readable and ends the VM through the VM's, which never names another process; or until the
// VM's does, and then has nothing left to do.
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <array>
#include <cerrno>

#include "process/naming_posix.h"

namespace platform::posix {

namespace {

class PidfdNaming final : public Naming {
  public:
    int nameLauncher() override { return opened(launcher_, getpid()); }
    int nameVm(pid_t vm) override { return opened(vm_, vm); }

    std::array<int, 2> monitorHandles() const override { return {launcher_, vm_}; }
    // A VM that ends first ends the monitor's work: it is gone by the time the launcher,
    // which learns of the VM's end at the same moment, comes to end and reap it.
    void endVmWithLauncher() const override {
        std::array<pollfd, 2> entries{};
        entries[0].fd = launcher_;
        entries[1].fd = vm_;
        for (pollfd& entry : entries) {
            entry.events = POLLIN;
        }
        while (poll(entries.data(), entries.size(), -1) < 0 && errno == EINTR) {
        }
        if (entries[1].revents == 0) {
            sendSignalThroughPidfd(vm_, SIGKILL);
        }
    }

  private:
    static int opened(int& pidfd, pid_t pid) {
        pidfd = openPidfd(pid);
        return pidfd < 0 ? errno : 0;
    }

    int launcher_ = -1;
    int vm_ = -1;
};

} // namespace

std::unique_ptr<Naming> pidfdNaming() {
    return std::make_unique<PidfdNaming>();
}

} // namespace platform::posix
