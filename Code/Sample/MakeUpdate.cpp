// morvex-make-update: writes an update folder of format-0 MIDI files holding SysEx messages, for
// rehearsing an update and for trying how a device copes with sizes and gaps.

#include "Morvex/Version.h"
#include "Process/CommandLine.h"
#include "Sample/SampleUpdate.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <span>
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
  --version          print the version
)";

struct Request {
    std::filesystem::path folder;
    sample::UpdateShape shape;
};

// Fills request from the arguments; returns why it cannot, or an empty string.
std::string parse(std::span<const char* const> arguments, Request& request)
{
    static constexpr process::CommandLine::Option Known[] = {
        { "--blocks", true },
        { "--block-size", true },
        { "--gap", true },
        { "--bank-size", true },
        { "--no-tempo-file" },
    };
    const process::ParsedCommandLine parsed = process::CommandLine::parse(arguments, Known);
    if (!parsed.line)
        return parsed.error + ".";
    const process::CommandLine& line = *parsed.line;
    if (line.operands().size() != 1)
        return line.operands().empty()
            ? "Name the folder to write the update into."
            : "Only one folder, please: \"" + line.operands()[1] + "\" is a second.";
    request.folder = line.operands().front();
    request.shape.tempoFile = !line.has("--no-tempo-file");
    if (const auto gap = line.value("--gap")) {
        const auto dash = gap->find('-');
        const auto low = process::wholeNumber(std::string_view(*gap).substr(0, dash));
        const auto high = dash == std::string::npos
            ? low
            : process::wholeNumber(std::string_view(*gap).substr(dash + 1));
        if (!low || !high)
            return "--gap takes milliseconds as MIN-MAX, not \"" + *gap + "\".";
        request.shape.minGap = *low;
        request.shape.maxGap = *high;
    }
    const std::pair<std::string_view, std::uint32_t*> numbers[] = {
        { "--blocks", &request.shape.blocks },
        { "--block-size", &request.shape.blockSize },
        { "--bank-size", &request.shape.bankSize },
    };
    for (const auto& [name, field] : numbers) {
        const auto value = line.value(name);
        if (!value)
            continue;
        const auto number = process::wholeNumber(*value);
        if (!number)
            return std::string(name) + " takes a whole number, not \"" + *value + "\".";
        *field = *number;
    }
    return sample::problemWith(request.shape);
}

} // namespace

int main(int argc, char** argv)
{
    if (argc == 2 && std::string_view(argv[1]) == "--help") {
        std::fputs(Usage, stdout);
        return EXIT_SUCCESS;
    }
    if (argc == 2 && std::string_view(argv[1]) == "--version") {
        std::printf("morvex-make-update %s\n", morvex::Version);
        return EXIT_SUCCESS;
    }
    Request request;
    const std::span<const char* const> arguments(argv + 1, static_cast<std::size_t>(argc - 1));
    if (const std::string problem = parse(arguments, request); !problem.empty()) {
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
