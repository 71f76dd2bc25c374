// The Linux launcher's handling of the processes it names by their ids, tested on real
// processes. (Its children are waited for, ended and reaped in the end-to-end tests.)
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "process/children_posix.h"

namespace {

pid_t sleepingChild() {
    const pid_t pid = fork();
    if (pid == 0) {
        for (;;) {
            pause();
        }
    }
    return pid;
}

// A process that is not a child of this one may have been reaped by someone else, and its
// id may name another process by now: it is neither signalled nor waited for. Here it is a
// grandchild, whose parent reports the signal that ended it: the test's SIGTERM, sent after
// the wait, unless the wait sent SIGKILL before, as to a VM whose monitor has ended.
TEST(ProcessNamedById, ThatIsNoChildIsNeitherEndedNorWaitedFor) {
    int ends[2];
    ASSERT_EQ(pipe(ends), 0);
    const pid_t parent = fork();
    if (parent == 0) {
        const pid_t grandchild = sleepingChild();
        (void)!write(ends[1], &grandchild, sizeof(grandchild));
        int status = 0;
        waitpid(grandchild, &status, 0);
        const int signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
        (void)!write(ends[1], &signal, sizeof(signal));
        _exit(0);
    }
    pid_t grandchild = 0;
    ASSERT_EQ(read(ends[0], &grandchild, sizeof(grandchild)),
              static_cast<ssize_t>(sizeof(grandchild)));

    EXPECT_EQ(platform::posix::waitForVm(grandchild, grandchild), 0); // returns at once
    kill(grandchild, SIGTERM);
    int signal = 0;
    ASSERT_EQ(read(ends[0], &signal, sizeof(signal)), static_cast<ssize_t>(sizeof(signal)));
    EXPECT_EQ(signal, SIGTERM) << "a process that is no child was ended";

    waitpid(parent, nullptr, 0);
    close(ends[0]);
    close(ends[1]);
}

} // namespace
