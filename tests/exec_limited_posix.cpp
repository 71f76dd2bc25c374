// Runs a program the way a more limited system would:
//   exec_limited [--without-pidfds] [--clone3-eperm] [--without-pidfd-send-signal]
//                [--by-descriptor] [--process-one | --init-reaping-its-own]
//                <program> <argv[0]> [<arguments>...]
// --without-pidfds  a seccomp filter makes the calls that pidfds need fail as on Linux 4.18:
//                   pidfd_open, pidfd_send_signal, pidfd_getfd, clone3 and close_range with
//                   ENOSYS, waitid with the id type P_PIDFD with EINVAL. Children inherit it.
// --clone3-eperm    clone3 fails with EPERM, as in a container profile that knows no clone3
//                   (Docker 20.10.0 to 20.10.9): the C library falls back to clone only on
//                   ENOSYS.
// --without-pidfd-send-signal  pidfd_send_signal alone fails with ENOSYS.
// --by-descriptor   the program is executed through a descriptor (execveat), so that the
//                   path it was started from is /dev/fd/<n>, which only /proc resolves.
// --process-one     the program runs as process 1 of a new PID namespace (as with unshare
//                   --pid --fork); this process ends as it did.
// --init-reaping-its-own  process 1 of a new PID namespace starts the program and reaps it
//                   alone, as an application that is a container's process 1 does; it ends
//                   as the program did (by a signal: 128+N), or with kChildLeft when a child
//                   is left it then (one it adopted, running or ended).
// The filters of --clone3-eperm and --without-pidfd-send-signal are installed after that of
// --without-pidfds, so that theirs win.
// A program without '/' is searched on PATH. Exits 125 when it cannot do what was asked.
#include <fcntl.h>
#include <linux/audit.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <sched.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>

#include <array>
#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <string>

namespace {

constexpr int kCannotRun = 125;
constexpr int kChildLeft = 124;
constexpr unsigned kPidfdIdType = 3;

// The filter answers the system calls of the processor this program is built for; a call
// made for any other ends the process.
#if defined(__x86_64__)
constexpr unsigned kOwnArchitecture = AUDIT_ARCH_X86_64;
#elif defined(__aarch64__)
constexpr unsigned kOwnArchitecture = AUDIT_ARCH_AARCH64;
#else
#error "exec_limited: no seccomp architecture for this processor"
#endif

constexpr sock_filter statement(unsigned short code, unsigned value) {
    return sock_filter{code, 0, 0, value};
}
constexpr sock_filter jumpIfEqual(unsigned value, unsigned char ifTrue, unsigned char ifFalse) {
    return sock_filter{BPF_JMP | BPF_JEQ | BPF_K, ifTrue, ifFalse, value};
}

// Installs the filter for this process and the programs it starts.
template <std::size_t N> bool install(const std::array<sock_filter, N>& program) {
    sock_fprog filter{static_cast<unsigned short>(program.size()),
                      const_cast<sock_filter*>(program.data())};
    return prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) == 0 &&
           prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &filter) == 0;
}

bool refusePidfds() {
    constexpr unsigned kNoSystemCall = SECCOMP_RET_ERRNO | ENOSYS;
    constexpr unsigned kInvalid = SECCOMP_RET_ERRNO | EINVAL;
    const std::array<sock_filter, 16> program = {
        statement(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, arch)),
        jumpIfEqual(kOwnArchitecture, 1, 0),
        statement(BPF_RET | BPF_K, SECCOMP_RET_KILL_PROCESS),
        statement(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr)),
        jumpIfEqual(434, 6, 0), // pidfd_open
        jumpIfEqual(424, 5, 0), // pidfd_send_signal
        jumpIfEqual(438, 4, 0), // pidfd_getfd
        jumpIfEqual(435, 3, 0), // clone3
        jumpIfEqual(436, 2, 0), // close_range
        jumpIfEqual(SYS_waitid, 2, 0),
        statement(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
        statement(BPF_RET | BPF_K, kNoSystemCall),
        // waitid: refused only for the id type P_PIDFD (the low half of its first argument).
        statement(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, args[0])),
        jumpIfEqual(kPidfdIdType, 0, 1),
        statement(BPF_RET | BPF_K, kInvalid),
        statement(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
    };
    if (!install(program)) {
        return false;
    }
    // The filter must work as intended, or the tests would not show what they claim.
    return syscall(434, getpid(), 0) < 0 && errno == ENOSYS;
}

// Makes the system call numbered `number` fail with `error`. The numbers from 424 on are the
// same on every architecture, so the filter needs no check of it.
bool refuseCall(unsigned number, unsigned error) {
    const std::array<sock_filter, 4> program = {
        statement(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr)),
        jumpIfEqual(number, 0, 1),
        statement(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | error),
        statement(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
    };
    if (!install(program)) {
        return false;
    }
    return syscall(number, 0, 0, 0, 0) < 0 && errno == static_cast<int>(error);
}

int waitFor(pid_t pid) {
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return status;
}

// Ends this process as the one whose status it is ended; a process 1, which its own signal
// does not end, exits with 128+N.
[[noreturn]] void endAs(int status) {
    if (WIFSIGNALED(status)) {
        std::signal(WTERMSIG(status), SIG_DFL);
        std::raise(WTERMSIG(status));
        _exit(128 + WTERMSIG(status));
    }
    _exit(WEXITSTATUS(status));
}

// Returns in process 1 of a new PID namespace, which goes on to run the program: there, or,
// with `ownChildrenOnly`, in a child of that process 1, which reaps only that child.
bool enterPidNamespace(bool ownChildrenOnly) {
    if (unshare(CLONE_NEWPID) != 0) {
        return false;
    }
    const pid_t first = fork();
    if (first < 0) {
        return false;
    }
    if (first > 0) {
        endAs(waitFor(first));
    }
    if (!ownChildrenOnly) {
        return true;
    }
    const pid_t program = fork();
    if (program < 0) {
        _exit(kCannotRun);
    }
    if (program > 0) {
        const int status = waitFor(program);
        siginfo_t info{};
        if (waitid(P_ALL, 0, &info, WEXITED | WNOHANG | WNOWAIT) == 0) {
            _exit(kChildLeft);
        }
        endAs(status);
    }
    return true;
}

} // namespace

int main(int argc, char** argv) {
    bool withoutPidfds = false;
    bool clone3Refused = false;
    bool pidfdSendSignalRefused = false;
    bool byDescriptor = false;
    bool processOne = false;
    bool initReapingItsOwn = false;
    int next = 1;
    for (; next < argc && std::strncmp(argv[next], "--", 2) == 0; ++next) {
        const std::string option = argv[next];
        if (option == "--without-pidfds") {
            withoutPidfds = true;
        } else if (option == "--clone3-eperm") {
            clone3Refused = true;
        } else if (option == "--without-pidfd-send-signal") {
            pidfdSendSignalRefused = true;
        } else if (option == "--by-descriptor") {
            byDescriptor = true;
        } else if (option == "--process-one") {
            processOne = true;
        } else if (option == "--init-reaping-its-own") {
            initReapingItsOwn = true;
        } else {
            std::fprintf(stderr, "exec_limited: unknown option %s\n", argv[next]);
            return kCannotRun;
        }
    }
    if (next + 1 >= argc) {
        std::fprintf(stderr, "exec_limited: no program and argv[0]\n");
        return kCannotRun;
    }
    const char* program = argv[next];
    char** programArgv = argv + next + 1;
    if ((withoutPidfds && !refusePidfds()) || (clone3Refused && !refuseCall(435, EPERM)) ||
        (pidfdSendSignalRefused && !refuseCall(424, ENOSYS))) {
        std::fprintf(stderr, "exec_limited: cannot install the seccomp filter: %s\n",
                     std::strerror(errno));
        return kCannotRun;
    }
    if ((processOne || initReapingItsOwn) && !enterPidNamespace(initReapingItsOwn)) {
        std::fprintf(stderr, "exec_limited: cannot make a PID namespace: %s\n",
                     std::strerror(errno));
        return kCannotRun;
    }
    if (byDescriptor) {
        const int fd = open(program, O_PATH | O_CLOEXEC);
        if (fd >= 0) {
            syscall(SYS_execveat, fd, "", programArgv, environ, AT_EMPTY_PATH);
        }
    } else {
        execvp(program, programArgv);
    }
    std::fprintf(stderr, "exec_limited: cannot run %s: %s\n", program, std::strerror(errno));
    return kCannotRun;
}
