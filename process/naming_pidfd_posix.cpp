// The monitor knows the launcher and the VM by pidfds: it waits until the launcher's becomes
// readable and ends the VM through the VM's, which never names another process.
#include <signal.h>
#include <unistd.h>

#include <cerrno>

#include "process/naming_posix.h"

namespace platform::posix {

namespace {

class PidfdNaming final : public Naming {
  public:
    int nameLauncher() override { return opened(launcher_, getpid()); }
    int nameVm(pid_t vm) override { return opened(vm_, vm); }

    std::array<int, 2> monitorHandles() const override { return {launcher_, vm_}; }
    void endVmWithLauncher() const override {
        waitReadable(launcher_);
        sendSignalThroughPidfd(vm_, SIGKILL);
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
