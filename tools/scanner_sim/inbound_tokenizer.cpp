#include "scanner_sim/inbound_tokenizer.h"

#include <algorithm>

namespace scanner_sim {
namespace {

// "GetSettings=" + one digit is sent without "\r" and is complete as it stands.
bool isBareGetSettings(const std::string& text)
{
    static constexpr std::string_view kPrefix = "GetSettings=";
    return text.size() == kPrefix.size() + 1 && text.starts_with(kPrefix) &&
           text.back() >= '0' && text.back() <= '9';
}

}  // namespace

void InboundTokenizer::Feed(std::string_view bytes, std::vector<Token>& out)
{
    size_t i = 0;
    while (i < bytes.size()) {
        if (m_Pending.empty()) {
            const char c = bytes[i];
            m_Binary = (c == '\x00' || c == '\x02');
        }
        if (m_Binary) {
            const size_t take = std::min(kBinaryPacketSize - m_Pending.size(), bytes.size() - i);
            m_Pending.append(bytes.substr(i, take));
            i += take;
            if (m_Pending.size() == kBinaryPacketSize) {
                out.push_back(Token{true, std::move(m_Pending)});
                m_Pending.clear();
                m_Binary = false;
            }
            continue;
        }
        // Text: up to "\r"; a bare GetSettings may be followed directly by the next command.
        while (i < bytes.size()) {
            const char c = bytes[i++];
            m_Pending.push_back(c);
            if (c == '\r') {
                out.push_back(Token{false, std::move(m_Pending)});
                m_Pending.clear();
                break;
            }
            if (isBareGetSettings(m_Pending)) {
                if (i < bytes.size() && bytes[i] == '\r')  // sent with its "\r" after all
                    m_Pending.push_back(bytes[i++]);
                out.push_back(Token{false, std::move(m_Pending)});
                m_Pending.clear();
                break;
            }
        }
    }
}

std::optional<Token> InboundTokenizer::FlushText()
{
    if (!HasPendingText())
        return std::nullopt;
    Token token{false, std::move(m_Pending)};
    m_Pending.clear();
    return token;
}

void InboundTokenizer::Reset()
{
    m_Binary = false;
    m_Pending.clear();
}

}  // namespace scanner_sim
