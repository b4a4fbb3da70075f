#include "Sample/SampleUpdate.h"

namespace sample {

namespace {

// One tick is one millisecond: 500 ticks per quarter note at 500,000 microseconds per quarter,
// so gaps given in milliseconds are written as they stand.
constexpr std::uint16_t Division = 500;
constexpr std::uint32_t MillisecondTempo = 500'000;

// The manufacturer ID that MIDI keeps for non-commercial use, so that no real instrument takes
// these messages for its own.
constexpr std::uint8_t NonCommercial = 0x7D;
constexpr std::uint8_t DeviceId = 0x01;
enum Command : std::uint8_t { FirmwareBlock = 0x10, SoundBank = 0x20, Setting = 0x30 };
// F0, ID, device, command, two index bytes, checksum, F7.
constexpr std::uint32_t Framing = 8;
// A message this large still fits the SMF length field and a JACK buffer is far smaller.
constexpr std::uint32_t LargestMessage = 16 * 1024 * 1024;
constexpr std::uint32_t LongestGap = 60'000;

// The same bytes on every run: the sample update is part of the build and must not change.
class Xorshift {
public:
    std::uint32_t next()
    {
        mState ^= mState << 13;
        mState ^= mState >> 17;
        mState ^= mState << 5;
        return mState;
    }

private:
    std::uint32_t mState = 0x4D6F7278;
};

// The body of a message (everything after F0): a header naming the command and the index, 7-bit
// data, and a checksum that makes everything after the ID sum to 0 modulo 128, as devices check.
smf::Bytes body(Command command, std::uint32_t index, std::uint32_t size, Xorshift& random)
{
    smf::Bytes bytes { NonCommercial, DeviceId, command,
        static_cast<std::uint8_t>(index >> 7 & 0x7F), static_cast<std::uint8_t>(index & 0x7F) };
    while (bytes.size() < size - 3)
        bytes.push_back(static_cast<std::uint8_t>(random.next() & 0x7F));
    unsigned sum = 0;
    for (std::size_t i = 1; i < bytes.size(); ++i)
        sum += bytes[i];
    bytes.push_back(static_cast<std::uint8_t>((128 - sum % 128) % 128));
    bytes.push_back(0xF7);
    return bytes;
}

std::string sizeProblem(const char* what, std::uint32_t size)
{
    if (size < Framing)
        return std::string(what) + " must be at least " + std::to_string(Framing)
            + " bytes: F0, the maker's ID, device, command, two index bytes, checksum and F7.";
    if (size > LargestMessage)
        return std::string(what) + " may be at most " + std::to_string(LargestMessage) + " bytes.";
    return {};
}

} // namespace

std::string problemWith(const UpdateShape& shape)
{
    if (shape.blocks > 0x3FFF)
        return "At most 16383 blocks: their index is two 7-bit bytes.";
    if (shape.blocks)
        if (auto problem = sizeProblem("A block", shape.blockSize); !problem.empty())
            return problem;
    if (shape.bankSize)
        if (auto problem = sizeProblem("The sound bank", shape.bankSize); !problem.empty())
            return problem;
    if (shape.minGap > shape.maxGap)
        return "The shortest gap is longer than the longest.";
    if (shape.maxGap > LongestGap)
        return "A gap may be at most " + std::to_string(LongestGap) + " ms.";
    if (!shape.blocks && !shape.bankSize && !shape.tempoFile)
        return "The update would hold no file.";
    return {};
}

std::vector<UpdateFile> makeUpdate(const UpdateShape& shape)
{
    Xorshift random;
    std::vector<UpdateFile> files;
    if (shape.blocks) {
        smf::SmfWriter writer(Division);
        writer.tempo(0, MillisecondTempo);
        for (std::uint32_t i = 0; i < shape.blocks; ++i) {
            const std::uint32_t gap
                = shape.minGap + random.next() % (shape.maxGap - shape.minGap + 1);
            writer.sysex(gap, body(FirmwareBlock, i, shape.blockSize, random));
        }
        files.push_back({ "01-firmware-blocks.mid", writer.file() });
    }
    if (shape.bankSize) {
        smf::SmfWriter writer(Division);
        writer.tempo(0, MillisecondTempo);
        writer.sysex(shape.maxGap, body(SoundBank, 0, shape.bankSize, random));
        files.push_back({ "02-sound-bank.mid", writer.file() });
    }
    if (shape.tempoFile) {
        smf::SmfWriter writer(Division);
        writer.tempo(0, MillisecondTempo);
        for (std::uint32_t i = 0; i < Settings; ++i) {
            if (i == Settings / 2)
                writer.tempo(0, MillisecondTempo / 2);
            writer.sysex(SettingTicks, body(Setting, i, SettingSize, random));
        }
        files.push_back({ "03-settings-tempo-change.mid", writer.file() });
    }
    return files;
}

} // namespace sample
