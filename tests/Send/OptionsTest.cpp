#include "Send/Options.h"

#include <gtest/gtest.h>
#include <vector>

namespace send {
namespace {

ParsedOptions parse(std::vector<const char*> arguments)
{
    return parseOptions(arguments);
}

TEST(SendOptions, AcceptsTheThreeForms)
{
    const auto list = parse({ "--list" });
    ASSERT_TRUE(list.options) << list.error;
    EXPECT_EQ(list.options->command, Options::Command::List);

    const auto send = parse({ "--to", "Synth 1", "--", "-updates" });
    ASSERT_TRUE(send.options) << send.error;
    EXPECT_EQ(send.options->command, Options::Command::Send);
    EXPECT_EQ(send.options->to, "Synth 1");
    EXPECT_EQ(send.options->folder, "-updates");
    EXPECT_FALSE(send.options->dryRun);

    const auto dry = parse({ "--dry-run", "--to=2" });
    ASSERT_TRUE(dry.options) << dry.error;
    EXPECT_TRUE(dry.options->dryRun);
    EXPECT_EQ(dry.options->to, "2");
    EXPECT_EQ(dry.options->folder, ".") << "the current folder by default";

    EXPECT_EQ(parse({ "--to", "1", "--help" }).options->command, Options::Command::Help);
}

TEST(SendOptions, RefusesWhatCannotBeMeant)
{
    const std::vector<std::vector<const char*>> wrong {
        {},
        { "updates" },
        { "--to" },
        { "--to=" },
        { "--to", "1", "a", "b" },
        { "--list", "--to", "1" },
        { "--list", "updates" },
        { "--verbose", "--to", "1" },
    };
    for (const auto& arguments : wrong) {
        const auto parsed = parse(arguments);
        EXPECT_FALSE(parsed.options) << arguments.size() << " arguments";
        EXPECT_FALSE(parsed.error.empty());
    }
}

} // namespace
} // namespace send
