// The generated updates read back as Morvex reads them: the sample folder the build lays out with
// the defaults of the command that makes such folders for trying a device's limits.

#include "support/Bytes.h"
#include "support/Scanned.h"

#include <gtest/gtest.h>
#include <map>

using namespace testsupport;

// Every message of the sample update is a whole SysEx under the non-commercial ID, 7-bit inside,
// its checksum right, in three files: 300 firmware blocks, one bank, and the settings.
TEST(SampleUpdate, EveryMessageIsAWholeSysExWithItsChecksumRight)
{
    std::map<std::string, std::vector<std::uint32_t>> sizes;
    for (const auto& entry : std::filesystem::directory_iterator(MORVEX_SAMPLE_FOLDER)) {
        if (entry.path().extension() != ".mid")
            continue;
        const Scanned file = scan(readBytes(entry.path()));
        EXPECT_EQ(file.ending, _SMF::Ending::EndOfTrack) << entry.path();
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
        sizes[entry.path().filename()] = file.each(&_Event::size);
    }
    EXPECT_EQ(sizes.size(), 3u);
    EXPECT_EQ(sizes["01-firmware-blocks.mid"], std::vector<std::uint32_t>(300, 256));
}
