#include <gtest/gtest.h>

#include "util/KnownFolders.h"


#include "util/SystemError.h"

TEST(FormatSystemMessage, DescribesSystemAndInternetCodes) {
    const std::wstring notFound = FormatSystemMessage(ERROR_FILE_NOT_FOUND);
    ASSERT_FALSE(notFound.empty());
    EXPECT_EQ(notFound.back(), L'\n');
    EXPECT_EQ(DescribeFailure(L"Open", ERROR_FILE_NOT_FOUND), L"Open: 2 - " + notFound);
    // Internet codes are not in the system's table but in the modules' own.
    EXPECT_FALSE(FormatSystemMessage(12007).empty());  // name not resolved
    EXPECT_EQ(FormatSystemMessage(0x7FFFFFF0), L"");
}

TEST(GetKnownFolderPath, AnswersForCurrentAndDefaultUser) {
    EXPECT_FALSE(GetKnownFolderPath(FOLDERID_Downloads, false).empty());
    EXPECT_FALSE(GetKnownFolderPath(FOLDERID_Desktop, true).empty());
    GUID unknown = {};
    EXPECT_EQ(GetKnownFolderPath(unknown, false), L"");
}
