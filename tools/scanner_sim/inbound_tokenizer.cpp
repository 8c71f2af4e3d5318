#include "tools/scanner_sim/inbound_tokenizer.h"

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

void InboundTokenizer::feed(std::string_view bytes, std::vector<Token>& out)
{
    size_t i = 0;
    while (i < bytes.size()) {
        if (pending_.empty()) {
            const char c = bytes[i];
            binary_ = (c == '\x00' || c == '\x02');
        }
        if (binary_) {
            const size_t take = std::min(kBinaryPacketSize - pending_.size(), bytes.size() - i);
            pending_.append(bytes.substr(i, take));
            i += take;
            if (pending_.size() == kBinaryPacketSize) {
                out.push_back(Token{true, std::move(pending_)});
                pending_.clear();
                binary_ = false;
            }
            continue;
        }
        // Text: up to "\r"; a bare GetSettings may be followed directly by the next command.
        while (i < bytes.size()) {
            const char c = bytes[i++];
            pending_.push_back(c);
            if (c == '\r') {
                out.push_back(Token{false, std::move(pending_)});
                pending_.clear();
                break;
            }
            if (isBareGetSettings(pending_)) {
                if (i < bytes.size() && bytes[i] == '\r')  // sent with its "\r" after all
                    pending_.push_back(bytes[i++]);
                out.push_back(Token{false, std::move(pending_)});
                pending_.clear();
                break;
            }
        }
    }
}

std::optional<Token> InboundTokenizer::flushText()
{
    if (!hasPendingText())
        return std::nullopt;
    Token token{false, std::move(pending_)};
    pending_.clear();
    return token;
}

void InboundTokenizer::reset()
{
    binary_ = false;
    pending_.clear();
}

}  // namespace scanner_sim
