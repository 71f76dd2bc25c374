#pragma once

#include <cstdio>
#include <string>
#include <string_view>

#include "common/lead_bytes.h"
#include "config/path_style.h"

// The launcher's settings, read from "morle_tool.cfg" in the tool directory.
// The single instance lives in main's frame, so there is deliberately no virtual destructor.
class ToolConfig {
  public:
    static constexpr const char* kFileName = "morle_tool.cfg";

    // Values are read as text of the code page whose lead bytes are given.
    explicit ToolConfig(const PathStyle& style = kHostStyle,
                        const LeadBytes& leadBytes = LeadBytes())
        : style_(style), leadBytes_(leadBytes) {}

    // "<directory><separator>morle_tool.cfg": the directory already ends in a separator; the
    // doubled one is accepted by the file system and is what users see in messages.
    static std::string pathIn(const std::string& directory, const PathStyle& style) {
        return directory + style.dirSeparator + kFileName;
    }

    // Reads settings from an open stream up to its end: a UTF-8 byte-order mark at its start
    // is skipped, UTF-16 is refused. Every error, a read error too, ends through fatalError.
    virtual void parse(std::FILE* stream);
    // Opens "<directory><separator>morle_tool.cfg" and parses it; a path that is not a
    // regular file, or a file that cannot be opened, ends through fatalError.
    virtual void load(const std::string& directory);

    std::string jdkHome() const { return jdkHome_; }
    std::string javaExecutable() const { return javaExecutable_; }
    std::string classPath() const { return classPath_; }
    std::string vornexPath() const { return vornexPath_; }
    std::string version() const { return version_; }
    std::string build() const { return build_; }

  private:
    void handleLine(std::string_view line, unsigned long lineNumber);
    void assign(std::string_view name, std::string_view value, unsigned long lineNumber);

    PathStyle style_;
    LeadBytes leadBytes_;
    std::string jdkHome_;
    std::string javaExecutable_;
    std::string classPath_;
    std::string vornexPath_;
    std::string version_;
    std::string build_;
};
