#pragma once

#include <cstdio>
#include <limits>
#include <string>
#include <string_view>
#include <vector>

// Splits a stream into lines at LF, reading it in large blocks. A CR right before an LF is
// dropped with it, so CR LF files read like LF files on every platform. After the last LF
// there is always one more line (possibly empty), as a line-by-line reader that tests for
// the end before each read sees it. A read error ends the lines too; failed() tells it from
// the end of the file. So does a line longer than memory holds, or than maxLineLength.
class LineReader {
  public:
    explicit LineReader(std::FILE* stream,
                        std::size_t maxLineLength = std::numeric_limits<std::size_t>::max());

    // Sets line to the next line, valid until the next call; false when none is left.
    bool next(std::string_view& line);
    // True when the lines ended because the stream could not be read.
    bool failed() const { return failed_; }
    // True when the lines ended at a line too long to hold.
    bool tooLong() const { return tooLong_; }

  private:
    bool refill();
    bool carry(const char* begin, std::size_t length);

    std::FILE* stream_;
    std::vector<char> buffer_;
    std::size_t position_ = 0;
    std::size_t end_ = 0;
    std::size_t maxLineLength_;
    std::string carry_;
    bool finished_ = false;
    bool failed_ = false;
    bool tooLong_ = false;
};
