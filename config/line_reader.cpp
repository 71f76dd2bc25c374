#include "config/line_reader.h"

#include <cstring>

namespace {
constexpr std::size_t kBlockSize = std::size_t{64} * 1024;

std::string_view withoutCarriageReturn(std::string_view line) {
    if (!line.empty() && line.back() == '\r') {
        line.remove_suffix(1);
    }
    return line;
}
} // namespace

LineReader::LineReader(std::FILE* stream) : stream_(stream), buffer_(kBlockSize) {}

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
            if (carry_.empty()) {
                line = withoutCarriageReturn(std::string_view(begin, length));
            } else {
                carry_.append(begin, length);
                line = withoutCarriageReturn(carry_);
            }
            return true;
        }
        carry_.append(begin, available);
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
