// What the command line asks for.
#include "cli/commandline.h"

#include <gtest/gtest.h>

namespace {

CommandLine parse(std::vector<std::string> args, std::string* error = nullptr)
{
    CommandLine command;
    std::string why;
    const bool ok = ParseCommandLine(std::move(args), command, why);
    if (error)
        *error = ok ? std::string() : why;
    else
        EXPECT_TRUE(ok) << why;
    return command;
}

}  // namespace

TEST(CommandLine, aSongAloneOpensTheWindowWithIt)
{
    const CommandLine c = parse({"my", "song.hbk"});
    EXPECT_EQ(c.action, CommandLine::Action::Window);
    EXPECT_EQ(c.operands, (std::vector<std::string>{"my", "song.hbk"}));
}

TEST(CommandLine, doubleDashEndsTheOptions)
{
    const CommandLine c = parse({"--midi-trace", "t.txt", "--", "-x.hbk", "--help", "--"});
    EXPECT_EQ(c.action, CommandLine::Action::Window);
    EXPECT_EQ(c.operands, (std::vector<std::string>{"-x.hbk", "--help", "--"}));
    EXPECT_EQ(c.midi.trace, "t.txt");

    const CommandLine dump = parse({"--dump", "--", "-x.hbk"});
    EXPECT_EQ(dump.action, CommandLine::Action::Tool);
    EXPECT_EQ(dump.operands, std::vector<std::string>{"-x.hbk"});

    // Before "--" the same name is an option nobody knows.
    std::string error;
    parse({"-x.hbk"}, &error);
    EXPECT_EQ(error, "unknown option -x.hbk (see --help)");
}

TEST(CommandLine, toolsHelpAndVersion)
{
    const CommandLine c = parse({"--export-midi", "a.hbk", "b.mid", "--soundfont", "gm.sf2"});
    EXPECT_EQ(c.action, CommandLine::Action::Tool);
    EXPECT_EQ(c.tool, "--export-midi");
    EXPECT_EQ(c.operands, (std::vector<std::string>{"a.hbk", "b.mid"}));
    EXPECT_EQ(c.midi.soundfont, "gm.sf2");

    std::string error;
    parse({"--dump", "a", "--render", "b", "c"}, &error);
    EXPECT_EQ(error, "only one of --export-midi, --render, --dump, --import-midi, --import-jianpu and --jianpu at a time");
    EXPECT_EQ(parse({"song.hbk", "--help", "--bogus"}).action, CommandLine::Action::Help);
    EXPECT_EQ(parse({"--version"}).action, CommandLine::Action::Version);
    parse({"--midi-out"}, &error);
    EXPECT_FALSE(error.empty());
}

TEST(CommandLine, theToolkitReadsOnlyWhatStandsBeforeDoubleDash)
{
    char p[] = "sonarel", a[] = "-platform", b[] = "offscreen", dd[] = "--", s[] = "-style";
    char* argv[] = {p, a, b, dd, s, nullptr};
    EXPECT_EQ(ToolkitArgc(5, argv), 3);
    EXPECT_EQ(ToolkitArgc(3, argv), 3);
}
