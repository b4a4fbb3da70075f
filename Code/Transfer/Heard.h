#pragma once

// What a device says back: the kinds of reply Morvex tells apart, a run's record of them, and
// how both read for a person.

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace transfer {

// The Universal Non-Real-Time handshake (F0 7E cc kk pp F7, from any device ID cc) and the
// Identity Reply; anything else is Other.
enum class ReplyKind { Ack, Nak, Cancel, Wait, IdentityReply, Other };
constexpr std::size_t ReplyKinds = 6;

ReplyKind kindOf(const std::vector<std::uint8_t>& reply);
// "ACK", "NAK", "CANCEL", "WAIT", "Identity Reply", "other"
const char* nameOf(ReplyKind kind);

struct Reply {
    std::vector<std::uint8_t> bytes;
    // The message it followed, "message 37 of 02 System.mid", or "before the first message".
    std::string after;
};

// Everything a device sent back during one update.
struct Heard {
    std::vector<Reply> replies; // whole, in arrival order
    std::array<std::uint32_t, ReplyKinds> counts {}; // by ReplyKind
    std::uint64_t realTimeBytes = 0; // counted, not kept
    std::string problem; // why Morvex could not listen, when it could not; empty otherwise

    std::uint32_t count(ReplyKind kind) const { return counts[static_cast<std::size_t>(kind)]; }
};

// For the end alert's informative text and morvex-send's last lines: how many replies of each
// kind came, and the last few in hex with the message each followed; empty when the device said
// nothing.
std::string heardText(const Heard& heard);

// bytes in hex, "F0 7E 10 7F 00 F7"; a long message by its first bytes, "..." and its size.
std::string hexText(const std::vector<std::uint8_t>& bytes);

// An Identity Reply, F0 7E cc 06 02 mm ff ff dd dd ss ss ss ss F7, its manufacturer ID one byte
// or three (00 xx xx).
struct Identity {
    std::uint8_t deviceId = 0;
    std::vector<std::uint8_t> manufacturer;
    std::array<std::uint8_t, 2> family {}; // least significant first, as sent
    std::array<std::uint8_t, 2> model {};
    std::array<std::uint8_t, 4> revision {};
};

std::optional<Identity> identityOf(const std::vector<std::uint8_t>& reply);
// "Device ID 10: manufacturer 7D, family 4D 56 (11085), model 01 00 (1), software revision
// 00 00 00 01 (0.0.0.1)"
std::string identityText(const Identity& identity);

} // namespace transfer
