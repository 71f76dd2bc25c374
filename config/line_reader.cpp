#include "config/line_reader.h"

#include <algorithm>
#include <cstring>
#include <exception>

namespace {
constexpr std::size_t kBlockSize = std::size_t{64} * 1024;

std::string_view withoutCarriageReturn(std::string_view line) {
    if (!line.empty() && line.back() == '\r') {
        line.remove_suffix(1);
    }
    return line;
}
} // namespace

LineReader::LineReader(std::FILE* stream, std::size_t maxLineLength)
    : stream_(stream), buffer_(kBlockSize), maxLineLength_(maxLineLength) {}

// Adds a piece of the current line to the carried part; false when the line grows longer
// than memory or maxLineLength allows, which ends the lines and gives the memory back.
bool LineReader::carry(const char* begin, std::size_t length) {
    if (length <= maxLineLength_ - std::min(carry_.size(), maxLineLength_)) {
        try {
            carry_.append(begin, length);
            return true;
        } catch (const std::exception&) { // std::bad_alloc, or std::length_error past max_size()
        }
    }
    std::string().swap(carry_);
    finished_ = true;
    tooLong_ = true;
    return false;
}

bool LineReader::refill() {
    position_ = 0;
    end_ = std::fread(buffer_.data(), 1, buffer_.size(), stream_);
    return end_ > 0;
}

bool LineReader::next(std::string_view& line) {
    if (finished_) {
        return false;
    }
    carry_.clear();
    for (;;) {
        const char* begin = buffer_.data() + position_;
        const std::size_t available = end_ - position_;
        const void* found = std::memchr(begin, '\n', available);
        if (found != nullptr) {
            const auto length = static_cast<std::size_t>(static_cast<const char*>(found) - begin);
            position_ += length + 1;
            if (carry_.empty() && length <= maxLineLength_) {
                line = withoutCarriageReturn(std::string_view(begin, length));
                return true;
            }
            if (!carry(begin, length)) {
                return false;
            }
            line = withoutCarriageReturn(carry_);
            return true;
        }
        if (!carry(begin, available)) {
            return false;
        }
        if (!refill()) {
            finished_ = true;
            if (std::ferror(stream_) != 0) {
                failed_ = true;
                return false;
            }
            line = carry_;
            return true;
        }
    }
}
