#pragma once

#include <cstddef>
#include <string>

#include "common/fatal_error.h"

namespace testing_support {

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
std::string readFile(const std::string& path);

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

} // namespace testing_support
