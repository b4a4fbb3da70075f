// Writes the fuzzer's seed corpus: a few dozen Standard MIDI Files, valid and broken, into the
// folder named by the one argument.
#include "support/SmfBuilder.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

using namespace smf;
using namespace testsupport;

namespace {

// Every kind of item the reader meets: SysEx with one- and two-byte lengths, escape events,
// tempo changes (one of length 4), a text event, a note on.
Bytes everything()
{
    SmfBuilder builder(96);
    builder.sysexOfSize(0, 6)
        .tempo(48, 1000000)
        .raw(hex("81 00 F7 03 F8 F8 F8 00 FF 01 03 41 42 43 00 90 3C 40"))
        .sysexOfSize(96, 201, 5)
        .raw(hex("00 F7 00 00 FF 51 04 07 A1 20 00 F7 01 55"));
    return builder.file();
}

std::vector<std::pair<std::string, Bytes>> corpus()
{
    const Bytes end = hex("00 FF 2F 00");
    const Bytes header = chunk("MThd", hex("0000 0001 0030"));
    std::vector<std::pair<std::string, Bytes>> files {
        { "one-sysex", SmfBuilder().sysexOfSize(0, 6).file() },
        { "firmware",
            SmfBuilder(480)
                .sysexOfSize(0, 256)
                .sysexOfSize(240, 256, 1)
                .tempo(0, 250000)
                .sysexOfSize(480, 256, 2)
                .sysexOfSize(1, 300, 3)
                .file() },
        { "everything", everything() },
        { "track-only", chunk("MTrk", hex("30 F0 01 F7") + end) },
        { "long-header-and-other-chunks",
            chunk("XFIH", hex("01 02")) + chunk("MThd", hex("0000 0001 0060 F0 01 F7 00"))
                + chunk("XFIH", hex("00 F0 01 F7")) + chunk("MTrk", hex("30 F7 01 55") + end)
                + chunk("MTrk", hex("00 F0 01 F7") + end) },
        { "division-0", smfFile(0, 1, 0, hex("30 F0 01 F7") + end) },
        { "time-code-division", smfFile(0, 1, 0xE728, hex("83 CE 28 F0 01 F7") + end) },
        { "vlq-four-bytes", smfFile(0, 1, 1, hex("FF FF FF FF F7 00 81 80 80 80 F7 01 55") + end) },
        { "format-1", smfFile(1, 1, 48, hex("00 F0 01 F7") + end) },
        { "two-tracks", smfFile(0, 2, 48, hex("00 F0 01 F7") + end) },
        { "header-of-5", chunk("MThd", hex("0000 0001 00")) + chunk("MTrk", end) },
        { "header-past-end", hex("4D546864 FFFFFFFF 0000 0001 0030") },
        { "chunk-past-end", header + hex("58464948 FFFFFFFF 00") },
        { "sysex-past-end", header + chunk("MTrk", hex("00 F0 01 F7 00 F0 FF FF FF 7F 01")) },
        { "escape-past-end", header + chunk("MTrk", hex("00 F7 FF FF FF FF 01")) },
        { "meta-past-end", header + chunk("MTrk", hex("00 FF 01 81 48 41")) },
        { "tempo-cut", header + chunk("MTrk", hex("00 FF 51 03 07")) },
        { "channel-messages",
            smfFile(0, 1, 48,
                hex("30 B0 00 01 00 C0 05 00 F0 01 F7 30 90 3C 64 30 3E 64 00 D0 10 30 20")
                    + hex("00 E0 00 40 00 FF 01 00 30 3C 00 F7 01 55") + end) },
        { "channel-message-cut", header + chunk("MTrk", hex("00 F0 01 F7 00 90 3C")) },
        { "no-end-of-track", header + chunk("MTrk", hex("00 F0 01 F7 00 90 3C 40")) },
        { "bytes-after-end", header + chunk("MTrk", end + hex("00 F0 01 F7")) },
        { "empty", {} },
        { "header-only", header },
    };
    // The full file cut at points inside each of its parts.
    const Bytes full = everything();
    for (const std::size_t cut : { 3, 10, 16, 22, 24, 27, 33, 40, 48, 55, 60, 70, 200, 270 })
        if (cut < full.size())
            files.emplace_back(
                "everything-cut-" + std::to_string(cut), Bytes(full.begin(), full.begin() + cut));
    return files;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s FOLDER\n", argv[0]);
        return 2;
    }
    const std::filesystem::path folder = argv[1];
    std::error_code error;
    std::filesystem::create_directories(folder, error);
    if (error) {
        std::fprintf(stderr, "cannot create corpus folder %s: %s\n", folder.c_str(),
            error.message().c_str());
        return 1;
    }
    for (const auto& [name, bytes] : corpus()) {
        const auto path = folder / (name + ".mid");
        std::ofstream out(path, std::ios::binary);
        out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
        if (!out) {
            std::fprintf(stderr, "cannot write seed file %s\n", path.c_str());
            return 1;
        }
    }
    return 0;
}
