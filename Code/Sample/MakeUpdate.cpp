// morvex-make-update: writes an update folder of format-0 MIDI files holding SysEx messages, for
// rehearsing an update and for trying how a device copes with sizes and gaps.

#include "Sample/SampleUpdate.h"

#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <string_view>

namespace {

constexpr const char* Usage = R"(Usage: morvex-make-update FOLDER [options]
Writes an update into FOLDER (made if missing), files named so that they sort in sending order:
  01-firmware-blocks.mid        BLOCKS messages of BLOCK-SIZE bytes, each after a gap
  02-sound-bank.mid             one message of BANK-SIZE bytes
  03-settings-tempo-change.mid  16 messages of 64 bytes, 40 ms apart, then 20 ms apart after a
                                tempo change
Every message is SysEx under the manufacturer ID for non-commercial use (7D), with a block index
and a checksum. The same options always give the same bytes.
Options:
  --blocks N         messages in the first file (default 300; 0 leaves the file out)
  --block-size B     bytes per message, F0 and F7 included (default 256)
  --gap MIN-MAX      milliseconds before each block, drawn from MIN to MAX (default 20-100)
  --bank-size B      the second file's message in bytes (default 32000; 0 leaves the file out)
  --no-tempo-file    leave out the third file
  --help             show this text
)";

std::optional<std::uint32_t> number(std::string_view text)
{
    std::uint32_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size())
        return std::nullopt;
    return value;
}

struct Request {
    std::filesystem::path folder;
    sample::UpdateShape shape;
};

// Fills request from the arguments; returns why it cannot, or an empty string.
std::string parse(int argc, char** argv, Request& request)
{
    for (int i = 1; i < argc; ++i) {
        const std::string_view argument = argv[i];
        if (argument == "--no-tempo-file") {
            request.shape.tempoFile = false;
            continue;
        }
        if (!argument.starts_with("--")) {
            if (!request.folder.empty())
                return "Only one folder, please: \"" + std::string(argument) + "\" is a second.";
            request.folder = argument;
            continue;
        }
        if (i + 1 == argc)
            return std::string(argument) + " needs a value.";
        const std::string_view value = argv[++i];
        std::optional<std::uint32_t> parsed;
        if (argument == "--gap") {
            const auto dash = value.find('-');
            const auto low = number(value.substr(0, dash));
            const auto high = dash == value.npos ? low : number(value.substr(dash + 1));
            if (!low || !high)
                return "--gap takes milliseconds as MIN-MAX, not \"" + std::string(value) + "\".";
            request.shape.minGap = *low;
            request.shape.maxGap = *high;
            continue;
        }
        std::uint32_t* field = argument == "--blocks" ? &request.shape.blocks
            : argument == "--block-size"              ? &request.shape.blockSize
            : argument == "--bank-size"               ? &request.shape.bankSize
                                                      : nullptr;
        if (!field)
            return "There is no option " + std::string(argument) + ".";
        if (!(parsed = number(value)))
            return std::string(argument) + " takes a whole number, not \"" + std::string(value)
                + "\".";
        *field = *parsed;
    }
    if (request.folder.empty())
        return "Name the folder to write the update into.";
    return sample::problemWith(request.shape);
}

} // namespace

int main(int argc, char** argv)
{
    if (argc == 2 && std::string_view(argv[1]) == "--help") {
        std::fputs(Usage, stdout);
        return EXIT_SUCCESS;
    }
    Request request;
    if (const std::string problem = parse(argc, argv, request); !problem.empty()) {
        std::fprintf(stderr, "morvex-make-update: %s\n\n%s", problem.c_str(), Usage);
        return EXIT_FAILURE;
    }
    std::error_code error;
    std::filesystem::create_directories(request.folder, error);
    if (error) {
        std::fprintf(stderr, "morvex-make-update: cannot make the folder %s: %s\n",
            request.folder.c_str(), error.message().c_str());
        return EXIT_FAILURE;
    }
    for (const sample::UpdateFile& file : sample::makeUpdate(request.shape)) {
        const auto path = request.folder / file.name;
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(file.bytes.data()),
            static_cast<std::streamsize>(file.bytes.size()));
        if (!out.flush()) {
            std::fprintf(stderr, "morvex-make-update: cannot write %s\n", path.c_str());
            return EXIT_FAILURE;
        }
    }
    return EXIT_SUCCESS;
}
