// The arguments reach the program as UTF-8 whatever the system's code page:
// CTest starts this test with a song path in Chinese.
#include "cli/platform/arguments.h"

#include <gtest/gtest.h>

namespace {
int g_argc = 0;
char** g_argv = nullptr;
}  // namespace

TEST(CommandLineArguments, aChinesePathArrivesWhole)
{
    const std::vector<std::string> args = CommandLineArguments(g_argc, g_argv);
    ASSERT_FALSE(args.empty());
    EXPECT_EQ(args.back(), "C:\\Users\\张三\\音乐\\小星星.hbk");
}

int main(int argc, char** argv)
{
    testing::InitGoogleTest(&argc, argv);
    g_argc = argc;
    g_argv = argv;
    return RUN_ALL_TESTS();
}
