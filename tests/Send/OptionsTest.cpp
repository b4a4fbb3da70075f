#include "Send/Options.h"

#include <gtest/gtest.h>
#include <vector>

namespace send {
namespace {

// What the command line was taken to mean, in a few words.
std::string meaning(const std::vector<const char*>& arguments)
{
    const ParsedOptions parsed = parseOptions(arguments);
    if (!parsed.options)
        return parsed.error.empty() ? "refused without a reason" : "refused";
    const Options& options = *parsed.options;
    if (options.command != Options::Command::Send)
        return options.command == Options::Command::List ? "list" : "help";
    return (options.dryRun ? "dry run to '" : "send to '") + options.to + "' from '"
        + options.folder + "'";
}

TEST(SendOptions, AcceptsTheThreeFormsAndRefusesWhatCannotBeMeant)
{
    const std::vector<std::pair<std::vector<const char*>, std::string>> cases {
        { { "--list" }, "list" },
        { { "--to", "Synth 1", "--", "-updates" }, "send to 'Synth 1' from '-updates'" },
        { { "--dry-run", "--to=2" }, "dry run to '2' from '.'" },
        { { "--to", "1", "--help" }, "help" },
        { {}, "refused" },
        { { "updates" }, "refused" },
        { { "--to" }, "refused" },
        { { "--to=" }, "refused" },
        { { "--to", "1", "a", "b" }, "refused" },
        { { "--list", "--to", "1" }, "refused" },
        { { "--list", "updates" }, "refused" },
        { { "--verbose", "--to", "1" }, "refused" },
    };
    for (const auto& [arguments, expected] : cases)
        EXPECT_EQ(meaning(arguments), expected) << testing::PrintToString(arguments);
}

} // namespace
} // namespace send
