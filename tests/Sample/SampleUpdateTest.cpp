// The generated updates read back as Morvex reads them: the sample folder the build lays out, and
// the command that makes such folders for trying a device's limits.

#include "Sample/SampleUpdate.h"

#include "support/ChildProcess.h"
#include "support/Scanned.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>
#include <map>
#include <set>

using namespace testsupport;

namespace {

constexpr std::uint32_t Millisecond = 1000; // microseconds

// The .mid files of folder by name, each checked to hold whole SysEx under the non-commercial ID,
// 7-bit inside, its checksum right.
std::map<std::string, Scanned> readUpdate(const std::filesystem::path& folder)
{
    std::map<std::string, Scanned> files;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        if (entry.path().extension() != ".mid")
            continue;
        const std::string text = readText(entry.path());
        const Scanned& file = files[entry.path().filename()]
            = scan(Bytes(text.begin(), text.end()));
        EXPECT_EQ(file.ending, _SMF::Ending::EndOfTrack);
        for (const _Event& event : file.events) {
            const Bytes m = file.bytesOf(event);
            unsigned sum = 0, high = 0;
            for (std::size_t i = 2; i + 1 < m.size(); ++i)
                sum += m[i], high |= m[i];
            EXPECT_TRUE(m.size() >= 8 && m[0] == 0xF0 && m[1] == 0x7D && m.back() == 0xF7
                && high < 0x80 && sum % 128 == 0)
                << entry.path() << ", message at offset "
                << reinterpret_cast<const std::uint8_t*>(event.ptr()) - file.image.data();
        }
    }
    return files;
}

} // namespace

// The build lays out its sample update with the command's defaults: firmware blocks of varying
// gaps, one bank, and a file whose tempo doubles halfway. Options change the shape, and a shape
// that cannot be made is refused before anything is written.
TEST(SampleUpdate, CommandWritesTheShapeAskedAndRefusesWhatItCannotMake)
{
    auto files = readUpdate(MORVEX_SAMPLE_FOLDER);
    ASSERT_EQ(files.size(), 3u);
    EXPECT_EQ(
        files["01-firmware-blocks.mid"].each(&_Event::size), std::vector<std::uint32_t>(300, 256));
    const auto gaps = files["01-firmware-blocks.mid"].each(&_Event::time);
    const std::set<std::uint32_t> distinct(gaps.begin(), gaps.end());
    EXPECT_TRUE(*distinct.begin() >= 20 * Millisecond && *distinct.rbegin() <= 100 * Millisecond);
    EXPECT_GT(distinct.size(), 50u) << "the gaps should vary, as a device's busy times do";
    EXPECT_EQ(
        files["02-sound-bank.mid"].each(&_Event::size), std::vector<std::uint32_t> { 32'000 });
    std::vector<std::uint32_t> expected(sample::Settings / 2, 40 * Millisecond);
    expected.resize(sample::Settings, 20 * Millisecond);
    EXPECT_EQ(files["03-settings-tempo-change.mid"].each(&_Event::time), expected);

    const TempDir scratch;
    const std::string folder = (scratch.path() / "device test").string();
    const Finished refused = run({ MORVEX_MAKE_UPDATE, folder, "--gap", "100-20" }, scratch.path());
    EXPECT_EQ(refused.status, 1);
    EXPECT_NE(refused.err.find("Usage:"), std::string::npos) << refused.err;
    EXPECT_FALSE(std::filesystem::exists(folder)) << "nothing is written when the shape is refused";
    const Finished made = run({ MORVEX_MAKE_UPDATE, folder, "--blocks", "5", "--block-size", "1000",
                                  "--gap", "7-7", "--bank-size", "0" },
        scratch.path());
    ASSERT_EQ(made.status, 0) << made.err;
    files = readUpdate(folder);
    ASSERT_EQ(files.size(), 2u) << "no bank file";
    EXPECT_EQ(
        files["01-firmware-blocks.mid"].each(&_Event::size), std::vector<std::uint32_t>(5, 1000));
    EXPECT_EQ(files["01-firmware-blocks.mid"].each(&_Event::time),
        std::vector<std::uint32_t>(5, 7 * Millisecond));
}
