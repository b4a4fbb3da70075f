#pragma once

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <span>
#include <stdexcept>
#include <string>
#include <unistd.h>

namespace testsupport {

// A folder of its own under the system's temporary folder, named after this process so that
// parallel test binaries never meet, and removed with everything in it when the object goes.
class TempDir {
public:
    TempDir()
    {
        static std::atomic<unsigned> serial { 0 };
        mPath = std::filesystem::temp_directory_path()
            / ("morvex-test-" + std::to_string(::getpid()) + "-" + std::to_string(serial++));
        std::filesystem::remove_all(mPath);
        std::filesystem::create_directories(mPath);
    }
    ~TempDir()
    {
        std::error_code ignored; // a destructor cannot report; the folder is ours and best effort
        std::filesystem::remove_all(mPath, ignored);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& path() const { return mPath; }

    // Writes bytes to name inside the folder and returns the file's path.
    std::filesystem::path write(
        const std::filesystem::path& name, std::span<const std::uint8_t> bytes) const
    {
        std::ofstream out(mPath / name, std::ios::binary);
        if (!out.write(reinterpret_cast<const char*>(bytes.data()),
                static_cast<std::streamsize>(bytes.size())))
            throw std::runtime_error("cannot write test file " + (mPath / name).string());
        return mPath / name;
    }
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
inline std::string readText(const std::filesystem::path& file)
{
    std::ifstream in(file, std::ios::binary);
    return { std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>() };
}

} // namespace testsupport
