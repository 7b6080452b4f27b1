#include "cli/commandline.h"

#include <gtest/gtest.h>

namespace {

// The export command's line: one file, an output, a number with a default, a choice, a flag.
struct ExportLine : cli::CommandLine
{
    ExportLine();
};

ExportLine::ExportLine()
    : cli::CommandLine("export", "FILE [options]", "Writes the points of a data file as CSV.")
{
    cli::CommandLine &line = *this;
    line.addPositional("FILE", "the data file");
    line.addOption({ { "o", "output" }, "Write to OUT.", "OUT" });
    line.addOption({ "skip", "Draw every N-th frame.", "N", "1" });
    line.addOption({ "unit", "Time unit.", "UNIT", "ms" });
    line.addFlag({ "photodiode" }, "Add the FD column.");
    line.addExitCode(0, "written");
}

TEST(CommandLine, TakesEqualsFormDoubleDashAndDefaults)
{
    ExportLine line;
    ASSERT_FALSE(line.parse({ "--skip=3", "-o", "out.csv", "--", "--photodiode" }, 1, 1));
    EXPECT_EQ(line.intValue("skip", 1, 100), 3);
    EXPECT_EQ(line.value("output"), "out.csv");
    EXPECT_FALSE(line.isSet("photodiode"));
    EXPECT_EQ(line.positional(), QStringList { "--photodiode" });
    EXPECT_EQ(line.choiceValue("unit", { "us", "ms", "s" }), 1);
}

TEST(CommandLine, RefusesUnknownOptionsOutOfRangeValuesAndStrayArguments)
{
    ExportLine unknown;
    EXPECT_EQ(unknown.parse({ "--bogus", "f.kdx" }, 1, 1), cli::ExitUsage);

    ExportLine range;
    ASSERT_FALSE(range.parse({ "--skip", "0", "f.kdx" }, 1, 1));
    EXPECT_FALSE(range.intValue("skip", 1, 100));
    ASSERT_FALSE(range.parse({ "--skip", "1x", "f.kdx" }, 1, 1));
    EXPECT_FALSE(range.intValue("skip", 1, 100));

    ExportLine missing;
    EXPECT_EQ(missing.parse({}, 1, 1), cli::ExitUsage);
    ExportLine extra;
    EXPECT_EQ(extra.parse({ "a.kdx", "b.kdx" }, 1, 1), cli::ExitUsage);
}

TEST(CommandLine, HelpListsOptionsDefaultsAndExitStatuses)
{
    ExportLine line;
    EXPECT_EQ(line.parse({ "--help" }, 1, 1), 0);
    const QString help = line.helpText();
    EXPECT_TRUE(help.startsWith("usage: ferrun-cli export FILE [options]\n"));
    EXPECT_TRUE(help.contains("--skip N"));
    EXPECT_TRUE(help.contains("(default: 1)"));
    EXPECT_TRUE(help.contains("-o, --output OUT"));
    EXPECT_TRUE(help.contains("  0  written\n  2  bad arguments"));
}

} // namespace
