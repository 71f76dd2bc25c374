#pragma once

#include <chrono>
#include <cstddef>
#include <string>
#include <thread>
#include <vector>

#include "common/fatal_error.h"

namespace testing_support {

using Millis = std::chrono::milliseconds;

// The entry class every VM command line runs, as the tests expect it.
constexpr const char* kEntryClass = "fenmoor.zandrel.se.java.toJava.Main";

// Sizes at the limits that the limit tests of both platforms use.
constexpr std::size_t kMillion = 1000000;
constexpr std::size_t kFiftyMegabytes = std::size_t{50} * 1024 * 1024;
constexpr const char* kThirtyDigits = "123456789012345678901234567890";

// Calls `probe` every `interval` until it gives a value (true, a filled optional) or `limit`
// has passed, and returns what it gave last. It is called once more after the limit, so a
// slow poll cannot miss what came just in time.
template <typename Probe>
auto pollFor(Millis limit, Millis interval, Probe probe) -> decltype(probe()) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    for (;;) {
        const bool late = std::chrono::steady_clock::now() >= deadline;
        auto value = probe();
        if (value || late) {
            return value;
        }
        std::this_thread::sleep_for(interval);
    }
}

// What fatalError was called with, thrown instead of ending the test process.
struct FatalErrorCalled {
    std::string message;
};

// While alive, fatalError throws FatalErrorCalled instead of ending the process.
class FatalErrorTrap {
  public:
    FatalErrorTrap();
    ~FatalErrorTrap();
    FatalErrorTrap(const FatalErrorTrap&) = delete;
    FatalErrorTrap& operator=(const FatalErrorTrap&) = delete;

  private:
    FatalErrorHandler previous_;
};

// A new, empty directory under the system's temporary directory, ending in the host's
// separator; `label` becomes part of its name (it may hold spaces).
std::string makeTempDir(const std::string& label);

void writeFile(const std::string& path, const std::string& content);
// The whole file; empty when there is none.
std::string readFile(const std::string& path);

// The entries of a file the stand-in VM writes, "<byte count> <bytes>\n" each (see
// stand_in_vm.cpp); throws std::runtime_error when the text is not made of such entries.
std::vector<std::string> parseRecord(const std::string& text);

// The argv a VM started by a launcher of tool identity `identity` receives when its
// configuration sets only JDK_HOME=`jdk`: the VM options before the entry class, the tool
// arguments after the identity.
std::vector<std::string> expectedVmArgv(const std::string& jdk, const std::string& identity,
                                        const std::vector<std::string>& vmOptions,
                                        const std::vector<std::string>& toolArgs);

// A test name made of the letters and digits of a case's title.
std::string testName(const std::string& title);

// Names parameterized cases after the `title` member of their parameter.
struct TitleName {
    template <class ParamInfo> std::string operator()(const ParamInfo& info) const {
        return testName(info.param.title);
    }
};

// A configuration of `lineCount` lines: `first` as line 1, then comments, blank lines and
// VERSION and BUILD assignments in turn (some with spaces around them and a CR LF end), and
// `last` as the last line. `build` is the value of the last BUILD line.
struct ManyLineConfig {
    std::string content;
    std::string build;
};
ManyLineConfig manyLineConfig(const std::string& first, std::size_t lineCount,
                              const std::string& last);

// A build-tree path given at compile time, in the host's own form (Z:\... under Wine).
std::string buildPath(const char* path);

// The built launcher of a tool identity ("se_javac" or "se_java"), in the host's own form.
std::string launcherBuildPath(const std::string& identity);

// The user-mode emulator that runs the tests of this build and the programs they start (a
// Linux build for another processor, such as the linux-arm64 preset under
// qemu-aarch64-static); empty where they run natively or under Wine.
std::string userModeEmulator();
// True under such an emulator: it translates the programs' system calls into its own, and
// /proc shows it as their executable.
bool underUserModeEmulation();

} // namespace testing_support
