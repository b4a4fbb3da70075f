#include "Transfer/UpdateFolder.h"

#include "Text/Printable.h"

#include <algorithm>
#include <filesystem>
#include <string_view>
#include <system_error>

namespace transfer {
namespace {

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

char foldCase(char c)
{
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

std::size_t digitRunEnd(std::string_view s, std::size_t from)
{
    while (from < s.size() && isDigit(s[from]))
        ++from;
    return from;
}

// Compares two runs of digits by their value, however long: leading zeros do not count, a longer
// run is larger, and runs of one length compare digit by digit.
int compareNumbers(std::string_view a, std::string_view b)
{
    while (a.size() > 1 && a.front() == '0')
        a.remove_prefix(1);
    while (b.size() > 1 && b.front() == '0')
        b.remove_prefix(1);
    if (a.size() != b.size())
        return a.size() < b.size() ? -1 : 1;
    return a.compare(b);
}

int compareAsRead(std::string_view a, std::string_view b)
{
    std::size_t i = 0;
    std::size_t j = 0;
    while (i < a.size() && j < b.size()) {
        if (isDigit(a[i]) && isDigit(b[j])) {
            const std::size_t endA = digitRunEnd(a, i);
            const std::size_t endB = digitRunEnd(b, j);
            if (int order = compareNumbers(a.substr(i, endA - i), b.substr(j, endB - j)))
                return order;
            i = endA;
            j = endB;
            continue;
        }
        // As unsigned bytes, so that UTF-8 sequences sort after ASCII, by code point.
        const auto x = static_cast<unsigned char>(foldCase(a[i]));
        const auto y = static_cast<unsigned char>(foldCase(b[j]));
        if (x != y)
            return x < y ? -1 : 1;
        ++i;
        ++j;
    }
    if (i < a.size() || j < b.size())
        return i < a.size() ? 1 : -1;
    return 0;
}

bool equalIgnoringCase(std::string_view a, std::string_view b)
{
    return std::equal(a.begin(), a.end(), b.begin(), b.end(),
        [](char x, char y) { return foldCase(x) == foldCase(y); });
}

} // namespace

std::string pathExtension(const std::string& path)
{
    std::string_view name = path;
    while (name.size() > 1 && name.back() == '/')
        name.remove_suffix(1);
    if (const std::size_t slash = name.rfind('/'); slash != std::string_view::npos)
        name.remove_prefix(slash + 1);
    const std::size_t period = name.rfind('.');
    return period != std::string_view::npos && period > 0 ? std::string(name.substr(period + 1))
                                                          : std::string();
}

bool readsBefore(const std::string& a, const std::string& b)
{
    if (int order = compareAsRead(a, b))
        return order < 0;
    // std::string compares its chars as unsigned, so this is the order of the bytes.
    return a < b;
}

MidiFileListing listMidiFiles(const std::string& folder)
{
    MidiFileListing listing;
    std::error_code error;
    std::filesystem::directory_iterator entry(folder, error);
    for (; !error && entry != std::filesystem::directory_iterator(); entry.increment(error)) {
        std::string name = entry->path().filename().string();
        if (equalIgnoringCase(pathExtension(name), "mid"))
            listing.names.push_back(std::move(name));
    }
    if (error) {
        listing.names.clear();
        listing.error
            = "Cannot list the folder “" + text::printable(folder) + "”: " + error.message() + ".";
        return listing;
    }
    std::sort(listing.names.begin(), listing.names.end(), readsBefore);
    return listing;
}

} // namespace transfer
