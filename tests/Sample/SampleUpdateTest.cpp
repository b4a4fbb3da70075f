#include "Sample/SampleUpdate.h"

#include "../SMF/Scanned.h"
#include "support/TempDir.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <set>
#include <sstream>
#include <sys/wait.h>

using namespace testsupport;

namespace {

constexpr std::uint32_t Millisecond = 1000; // microseconds

Bytes readFile(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

std::vector<std::string> midiFilesIn(const std::filesystem::path& folder)
{
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
        if (entry.path().extension() == ".mid")
            names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

// Every message whole SysEx under the non-commercial ID, 7-bit inside, its checksum right.
void expectWellFormed(const Scanned& file)
{
    EXPECT_EQ(file.ending, _SMF::Ending::EndOfTrack);
    for (const _Event& event : file.events) {
        const Bytes message = file.bytesOf(event);
        ASSERT_GE(message.size(), 8u);
        EXPECT_EQ(message.front(), 0xF0);
        EXPECT_EQ(message[1], 0x7D);
        EXPECT_EQ(message.back(), 0xF7);
        unsigned sum = 0;
        for (std::size_t i = 2; i + 1 < message.size(); ++i) {
            EXPECT_LT(message[i], 0x80) << "a data byte with its top bit set";
            sum += message[i];
        }
        EXPECT_EQ(sum % 128, 0u) << "checksum";
    }
}

std::vector<std::uint32_t> sizes(const Scanned& file)
{
    std::vector<std::uint32_t> result;
    for (const _Event& event : file.events)
        result.push_back(event.size());
    return result;
}

struct CommandRun {
    int status;
    std::string output;
};

// Runs morvex-make-update with arguments (no shell quoting needed in them).
CommandRun makeUpdate(const TempDir& scratch, const std::string& arguments)
{
    const auto log = scratch.path() / "output.txt";
    const int status
        = std::system((MORVEX_MAKE_UPDATE " " + arguments + " >" + log.string() + " 2>&1").c_str());
    std::ifstream in(log);
    std::ostringstream text;
    text << in.rdbuf();
    return { WIFEXITED(status) ? WEXITSTATUS(status) : -1, text.str() };
}

} // namespace

TEST(SampleUpdate, DefaultFilesHoldWhatTheyPromise)
{
    const auto files = sample::makeUpdate({});
    ASSERT_EQ(files.size(), 3u);
    EXPECT_TRUE(std::is_sorted(files.begin(), files.end(), [](const auto& a, const auto& b) {
        return a.name < b.name;
    })) << "names must sort in sending order";

    const Scanned blocks = scan(files[0].bytes);
    expectWellFormed(blocks);
    EXPECT_EQ(blocks.events.size(), 300u);
    EXPECT_EQ(sizes(blocks), std::vector<std::uint32_t>(300, 256));
    EXPECT_EQ(blocks.total, 300u * 256);
    const auto gaps = blocks.delays();
    EXPECT_GE(*std::min_element(gaps.begin(), gaps.end()), 20 * Millisecond);
    EXPECT_LE(*std::max_element(gaps.begin(), gaps.end()), 100 * Millisecond);
    EXPECT_GT(std::set<std::uint32_t>(gaps.begin(), gaps.end()).size(), 50u)
        << "the gaps should vary, as a device's busy times do";

    const Scanned bank = scan(files[1].bytes);
    expectWellFormed(bank);
    EXPECT_EQ(sizes(bank), std::vector<std::uint32_t> { 32'000 });

    const Scanned settings = scan(files[2].bytes);
    expectWellFormed(settings);
    std::vector<std::uint32_t> expected(sample::Settings / 2, 40 * Millisecond);
    expected.resize(sample::Settings, 20 * Millisecond); // the tempo doubled halfway
    EXPECT_EQ(settings.delays(), expected);
    EXPECT_EQ(sizes(settings), std::vector<std::uint32_t>(sample::Settings, sample::SettingSize));
}

TEST(SampleUpdate, TheBuildGeneratesTheDefaultUpdate)
{
    const std::filesystem::path folder = MORVEX_SAMPLE_FOLDER;
    const auto files = sample::makeUpdate({});
    std::vector<std::string> names;
    for (const auto& file : files) {
        names.push_back(file.name);
        EXPECT_EQ(readFile(folder / file.name), file.bytes) << file.name;
    }
    EXPECT_EQ(midiFilesIn(folder), names);
}

TEST(SampleUpdate, CommandWritesTheShapeAsked)
{
    const TempDir scratch;
    const auto folder = scratch.path() / "device test";
    const CommandRun run = makeUpdate(
        scratch, "'" + folder.string() + "' --blocks 5 --block-size 1000 --gap 7-7 --bank-size 0");
    ASSERT_EQ(run.status, 0) << run.output;
    ASSERT_EQ(midiFilesIn(folder),
        (std::vector<std::string> { "01-firmware-blocks.mid", "03-settings-tempo-change.mid" }));
    const Scanned blocks = scan(readFile(folder / "01-firmware-blocks.mid"));
    expectWellFormed(blocks);
    EXPECT_EQ(sizes(blocks), std::vector<std::uint32_t>(5, 1000));
    EXPECT_EQ(blocks.delays(), std::vector<std::uint32_t>(5, 7 * Millisecond));
}

TEST(SampleUpdate, CommandRefusesWhatItCannotMake)
{
    const TempDir scratch;
    const auto folder = scratch.path().string();
    for (const std::string& arguments : { std::string(), folder + " --block-size 7",
             folder + " --gap 100-20", folder + " --blocks many", folder + " --bank-size",
             folder + " --loud", folder + " --blocks 0 --bank-size 0 --no-tempo-file" }) {
        const CommandRun run = makeUpdate(scratch, arguments);
        EXPECT_EQ(run.status, 1) << arguments;
        EXPECT_NE(run.output.find("Usage:"), std::string::npos) << arguments;
    }
    EXPECT_TRUE(midiFilesIn(folder).empty()) << "nothing is written when the shape is refused";
    EXPECT_EQ(makeUpdate(scratch, "--help").status, 0);
}
