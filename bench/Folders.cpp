#include "Folders.h"

#include "support/SmfBuilder.h"

#include <algorithm>
#include <array>
#include <fstream>
#include <random>
#include <stdexcept>
#include <utility>
#include <vector>

namespace bench {
namespace {

void put(std::ofstream& out, const std::filesystem::path& path, std::span<const std::uint8_t> bytes)
{
    out.write(
        reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (!out)
        throw std::runtime_error("cannot write " + path.string());
}

void writeFile(const std::filesystem::path& path, std::span<const std::uint8_t> bytes)
{
    std::ofstream out(path, std::ios::binary);
    put(out, path, bytes);
}

void timedMessage(smf::SmfWriter& writer, std::uint8_t delayMs, unsigned index)
{
    const std::array<std::uint8_t, 5> body { 0x7D, delayMs,
        static_cast<std::uint8_t>((index >> 7) & 0x7F), static_cast<std::uint8_t>(index & 0x7F),
        0xF7 };
    writer.sysex(delayMs, body);
}

} // namespace

void writeTimingFolder(const std::filesystem::path& folder)
{
    // Short delays are where the clock's overhead and the timer slack show, long ones where the
    // sleep itself does, so most messages are short and a few long: 800 × 0 + 540 × 1 + 400 × 5
    // + 200 × 20 + 60 × 100 ms = 12.5 s of delays.
    constexpr std::array<std::pair<std::uint8_t, unsigned>, 5> classes { { { 0, 800 }, { 1, 540 },
        { 5, 400 }, { 20, 200 }, { 100, 60 } } };
    std::vector<std::uint8_t> delays;
    for (const auto& [delayMs, count] : classes)
        delays.insert(delays.end(), count, delayMs);
    // A fixed seed: every run, and every player, gets the same order.
    std::shuffle(delays.begin(), delays.end(), std::mt19937(8));

    smf::SmfWriter writer(TicksPerQuarter);
    timedMessage(writer, 0, 0);
    for (unsigned i = 0; i < delays.size(); ++i)
        timedMessage(writer, delays[i], i + 1);
    writeFile(folder / "timing.mid", writer.file());
}

void writeWaitingFolder(const std::filesystem::path& folder)
{
    smf::SmfWriter writer(TicksPerQuarter);
    for (unsigned i = 0; i < 100; ++i)
        timedMessage(writer, 100, i);
    writeFile(folder / "waiting.mid", writer.file());
}

void writePaceFolder(const std::filesystem::path& folder)
{
    for (const char* name : { "pace-1.mid", "pace-2.mid" }) {
        smf::SmfWriter writer(TicksPerQuarter);
        for (unsigned i = 0; i < 20; ++i)
            timedMessage(writer, 20, i);
        writeFile(folder / name, writer.file());
    }
}

void writeLargeFolder(const std::filesystem::path& folder, unsigned files, unsigned mebibytes)
{
    // One piece is about 1 MiB of track data: 4,048 events of 259 bytes (delta, F0, a two-byte
    // length, 255 bytes of body). The writer's own End of Track is cut off each piece and written
    // once at the end of the file.
    constexpr unsigned MessagesPerPiece = 4048;
    const smf::Bytes end = smf::SmfWriter(TicksPerQuarter).track();
    testsupport::SmfBuilder pieceWriter(TicksPerQuarter);
    for (unsigned i = 0; i < MessagesPerPiece; ++i)
        pieceWriter.sysexOfSize(0, 256, static_cast<std::uint8_t>(i));
    smf::Bytes piece = pieceWriter.track();
    piece.resize(piece.size() - end.size());

    const auto trackLength = static_cast<std::uint32_t>(piece.size() * mebibytes + end.size());
    smf::Bytes head = smf::smfFile(0, 1, TicksPerQuarter, {});
    for (int i = 0; i < 4; ++i) // the track chunk's length, big-endian, in its last four bytes
        head[head.size() - 1 - i] = static_cast<std::uint8_t>(trackLength >> (8 * i));

    for (unsigned f = 0; f < files; ++f) {
        const auto path = folder / ("big-" + std::to_string(f) + ".mid");
        std::ofstream out(path, std::ios::binary);
        put(out, path, head);
        for (unsigned p = 0; p < mebibytes; ++p)
            put(out, path, piece);
        put(out, path, end);
    }
}

} // namespace bench
