#include "support/TempDir.h"

#include <atomic>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <unistd.h>

namespace testsupport {

TempDir::TempDir()
{
    static std::atomic<unsigned> serial { 0 };
    mPath = std::filesystem::temp_directory_path()
        / ("morvex-test-" + std::to_string(::getpid()) + "-" + std::to_string(serial++));
    std::filesystem::remove_all(mPath);
    std::filesystem::create_directories(mPath);
}

TempDir::~TempDir()
{
    std::error_code ignored; // a destructor cannot report; the folder is ours and best effort
    std::filesystem::remove_all(mPath, ignored);
}

std::filesystem::path TempDir::write(
    const std::filesystem::path& name, std::span<const std::uint8_t> bytes) const
{
    const auto file = mPath / name;
    std::ofstream out(file, std::ios::binary);
    out.write(
        reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (!out)
        throw std::runtime_error("cannot write test file " + file.string());
    return file;
}

std::string readText(const std::filesystem::path& file)
{
    std::ifstream in(file, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

} // namespace testsupport
