#pragma once
// Splits the client's byte stream into commands: 8-byte binary packets and "\r"-terminated texts.
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace scanner_sim {

struct Token {
    bool binary = false;
    std::string bytes;  // exactly as received; texts keep their terminating "\r"

    bool operator==(const Token&) const = default;
};

class InboundTokenizer {
public:
    static constexpr size_t kBinaryPacketSize = 8;

    // Consumes bytes and appends every command they complete to `out`.
    void Feed(std::string_view bytes, std::vector<Token>& out);

    // Text still waiting for its "\r" (a partial binary packet does not count).
    bool HasPendingText() const { return !m_Binary && !m_Pending.empty(); }

    // Hands out the pending text as a command of its own (called after a quiet period).
    std::optional<Token> FlushText();

    void Reset();

private:
    bool m_Binary = false;  // m_Pending holds the start of a binary packet
    std::string m_Pending;
};

}  // namespace scanner_sim
