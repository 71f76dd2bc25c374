// The Windows process layer's own rules, tested on the system's functions.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "process/platform.h"

namespace {

struct ErrorTextCase {
    const char* title;
    DWORD code;
    int inserts; // how often the system's text names an insert
};

void PrintTo(const ErrorTextCase& row, std::ostream* out) {
    *out << row.title;
}

class ErrorText : public ::testing::TestWithParam<ErrorTextCase> {};

// Every insert the message names, %2 and later ones too, is the one text given; the text
// ends without a line end, which the caller adds.
TEST_P(ErrorText, FillsEveryInsertWithTheTextAndEndsWithoutLineEnd) {
    const ErrorTextCase& c = GetParam();
    const std::string insert = "<the insert>";
    const std::string text = platform::errorText(c.code, insert);

    ASSERT_FALSE(text.empty());
    EXPECT_NE(text.back(), '\n') << text;
    EXPECT_NE(text.back(), '\r') << text;
    int found = 0;
    for (std::size_t at = text.find(insert); at != std::string::npos;
         at = text.find(insert, at + 1)) {
        ++found;
    }
    EXPECT_EQ(found, c.inserts) << text;
    EXPECT_EQ(text.find('%'), std::string::npos) << text;
}

INSTANTIATE_TEST_SUITE_P(
    Messages, ErrorText,
    ::testing::Values(ErrorTextCase{"NoInsert", ERROR_FILE_NOT_FOUND, 0},
                      ErrorTextCase{"FirstInsert", ERROR_BAD_EXE_FORMAT, 1},
                      // Message ... not found in file %2 (and 0x%1 before it).
                      ErrorTextCase{"SecondInsert", ERROR_MR_MID_NOT_FOUND, 2}),
    [](const ::testing::TestParamInfo<ErrorTextCase>& info) { return info.param.title; });

TEST(ErrorText, CodeWithoutMessageIsItsNumber) {
    EXPECT_EQ(platform::errorText(0x2FFFFFFF, "x"), std::to_string(0x2FFFFFFF));
}

} // namespace
