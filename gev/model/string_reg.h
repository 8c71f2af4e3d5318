#pragma once
// A register holding a fixed-length, zero-padded text.
#include "model/callback_lists.h"
#include "model/register.h"

#include <cstdint>
#include <string>
#include <vector>

namespace Kivu {

class StringReg : public Register {
public:
    // The text is truncated to length bytes and padded with zero bytes.
    StringReg(uint32_t address, const char* text, uint32_t length, uint32_t access);
    // The register behind a string feature: length zero bytes.
    StringReg(uint32_t address, uint32_t length, const char* name, uint32_t access);

    uint32_t Read(uint32_t offset, uint8_t* buffer, uint32_t length, uint32_t origin) override;
    uint32_t Write(uint32_t offset, const uint8_t* buffer, uint32_t length, uint32_t origin) override;

    // Internal access (origin 0): access bits are ignored, callbacks run.
    // GetValue returns the text up to its first zero byte, at most length bytes.
    std::string GetValue();
    bool SetValue(const char* text);

    bool Subscribe(CallbackList list, const Callback<StringReg>& cb);
    void RemoveCallbacks(CallbackList list, const Callback<StringReg>& cb);

private:
    bool dispatch(CallbackList list) { return m_Callbacks.Dispatch(static_cast<size_t>(list), this); }
    // Runs the validators over the value already changed; puts previous back
    // when they refuse or throw.
    bool validate(const std::vector<char>& previous);
    size_t textLength() const;

    CallbackLists<StringReg, 4> m_Callbacks;
    std::vector<char> m_Value;  // length bytes and a terminating zero that is never overwritten
};

}  // namespace Kivu
