#pragma once

#include <cstdint>
#include <filesystem>
#include <span>
#include <string>

namespace testsupport {

// A folder of its own under the system's temporary folder, named after this process so that
// parallel test binaries never meet, and removed with everything in it when the object goes.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& path() const { return mPath; }

    // Writes bytes to name inside the folder and returns the file's path.
    std::filesystem::path write(
        const std::filesystem::path& name, std::span<const std::uint8_t> bytes) const;
    // Copies one of the damaged files in tests/data to name inside the folder, replacing it.
    void copyData(const std::string& data, const std::filesystem::path& name) const
    {
        std::filesystem::copy_file(std::filesystem::path(MORVEX_TEST_DATA) / data, mPath / name,
            std::filesystem::copy_options::overwrite_existing);
    }

private:
    std::filesystem::path mPath;
};

// The whole file as text (bytes as they are); empty when it cannot be read.
std::string readText(const std::filesystem::path& file);

} // namespace testsupport
