#include "Transfer/Heard.h"

#include <algorithm>
#include <cstdio>

namespace transfer {

namespace {

// How many replies the end shows in hex, and how many bytes of each.
constexpr std::size_t Int_RepliesShown = 3;
constexpr std::size_t Int_BytesShown = 16;

std::string hexByte(std::uint8_t byte)
{
    char text[4];
    std::snprintf(text, sizeof text, "%02X", static_cast<unsigned>(byte));
    return text;
}

// Two 7-bit bytes, least significant first, as one number.
unsigned numberOf(const std::array<std::uint8_t, 2>& bytes)
{
    return bytes[0] | (static_cast<unsigned>(bytes[1]) << 7);
}

template <std::size_t Size> std::string hexOf(const std::array<std::uint8_t, Size>& bytes)
{
    return hexText({ bytes.begin(), bytes.end() });
}

} // namespace

ReplyKind kindOf(const std::vector<std::uint8_t>& reply)
{
    if (identityOf(reply))
        return ReplyKind::IdentityReply;
    if (reply.size() != 6 || reply[0] != 0xF0 || reply[1] != 0x7E || reply[5] != 0xF7)
        return ReplyKind::Other;
    switch (reply[3]) {
    case 0x7F:
        return ReplyKind::Ack;
    case 0x7E:
        return ReplyKind::Nak;
    case 0x7D:
        return ReplyKind::Cancel;
    case 0x7C:
        return ReplyKind::Wait;
    default:
        return ReplyKind::Other;
    }
}

const char* nameOf(ReplyKind kind)
{
    static constexpr const char* Names[ReplyKinds]
        = { "ACK", "NAK", "CANCEL", "WAIT", "Identity Reply", "other" };
    return Names[static_cast<std::size_t>(kind)];
}

std::string hexText(const std::vector<std::uint8_t>& bytes)
{
    std::string text;
    for (std::size_t i = 0; i < std::min(bytes.size(), Int_BytesShown); ++i) {
        if (i > 0)
            text += ' ';
        text += hexByte(bytes[i]);
    }
    if (bytes.size() > Int_BytesShown)
        text += " ... (" + std::to_string(bytes.size()) + " bytes)";
    return text;
}

std::string heardText(const Heard& heard)
{
    std::string text;
    if (!heard.replies.empty()) {
        std::string counts;
        for (std::size_t i = 0; i < ReplyKinds; ++i)
            if (heard.counts[i] > 0)
                counts += (counts.empty() ? "" : ", ") + std::to_string(heard.counts[i]) + " "
                    + nameOf(static_cast<ReplyKind>(i));
        text = "The device answered " + std::to_string(heard.replies.size())
            + (heard.replies.size() == 1 ? " time: " : " times: ") + counts + ".";
        const std::size_t first
            = heard.replies.size() - std::min(heard.replies.size(), Int_RepliesShown);
        text += first == 0 ? "" : " The last:";
        for (std::size_t i = first; i < heard.replies.size(); ++i)
            text += "\n" + heard.replies[i].after + ": " + hexText(heard.replies[i].bytes);
    }
    if (heard.realTimeBytes > 0)
        text += (text.empty() ? "" : "\n") + std::string("The device sent ")
            + std::to_string(heard.realTimeBytes) + " real-time bytes (clock, active sensing).";
    if (!heard.problem.empty())
        text += (text.empty() ? "" : "\n") + heard.problem;
    return text;
}

std::optional<Identity> identityOf(const std::vector<std::uint8_t>& reply)
{
    const std::size_t maker = !reply.empty() && reply.size() > 5 && reply[5] == 0x00 ? 3 : 1;
    if (reply.size() != 14 + maker || reply[0] != 0xF0 || reply[1] != 0x7E || reply[3] != 0x06
        || reply[4] != 0x02 || reply.back() != 0xF7)
        return std::nullopt;
    Identity identity;
    identity.deviceId = reply[2];
    const auto* at = reply.data() + 5;
    identity.manufacturer.assign(at, at + maker);
    at += maker;
    std::copy_n(at, 2, identity.family.begin());
    std::copy_n(at + 2, 2, identity.model.begin());
    std::copy_n(at + 4, 4, identity.revision.begin());
    return identity;
}

std::string identityText(const Identity& identity)
{
    const auto& r = identity.revision;
    return "Device ID " + hexByte(identity.deviceId) + ": manufacturer "
        + hexText(identity.manufacturer) + ", family " + hexOf(identity.family) + " ("
        + std::to_string(numberOf(identity.family)) + "), model " + hexOf(identity.model) + " ("
        + std::to_string(numberOf(identity.model)) + "), software revision " + hexOf(r) + " ("
        + std::to_string(r[0]) + "." + std::to_string(r[1]) + "." + std::to_string(r[2]) + "."
        + std::to_string(r[3]) + ")";
}

} // namespace transfer
