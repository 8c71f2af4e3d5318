#include "model/string_reg.h"

#include <algorithm>
#include <cstring>

namespace Kivu {

namespace {

std::vector<char> padded(const char* text, uint32_t length)
{
    std::vector<char> value(size_t(length) + 1, '\0');
    if (text != nullptr)
        std::memcpy(value.data(), text, strnlen(text, length));
    return value;
}

}  // namespace

StringReg::StringReg(uint32_t address, const char* text, uint32_t length, uint32_t access)
    : Register(address, length, RegType::String, access, 0, {}), m_Value(padded(text, length))
{
}

StringReg::StringReg(uint32_t address, uint32_t length, const char* name, uint32_t access)
    : Register(address, length, RegType::String, access, 0, name != nullptr ? name : ""),
      m_Value(size_t(length) + 1, '\0')
{
}

size_t StringReg::textLength() const
{
    return strnlen(m_Value.data(), GetLength());
}

uint32_t StringReg::Read(uint32_t offset, uint8_t* buffer, uint32_t length, uint32_t origin)
{
    if (buffer == nullptr)
        return GevStatus::InvalidAddress;
    if (!Allows(origin, Access::Read))
        return GevStatus::AccessDenied;
    if (offset >= GetLength())
        return GevStatus::InvalidAddress;
    const uint32_t room = GetLength() - offset;
    const uint32_t n = (length == 0 || length > room) ? room : length;
    std::memset(buffer, 0, n);

    AccessScope scope(*this, origin);
    SetStatus(GevStatus::Success);
    dispatch(CallbackList::BeforeRead);
    // The text length counts from the register's start.
    std::memcpy(buffer, m_Value.data() + offset, std::min<size_t>(n, textLength()));
    const uint32_t result = GetStatus();
    dispatch(CallbackList::AfterRead);
    return result;
}

bool StringReg::validate(const std::vector<char>& previous)
{
    return AcceptOrRestore(m_Value, previous, [this] { return dispatch(CallbackList::BeforeWrite); });
}

uint32_t StringReg::Write(uint32_t offset, const uint8_t* buffer, uint32_t length, uint32_t origin)
{
    if (buffer == nullptr)
        return GevStatus::InvalidAddress;
    if (!Allows(origin, Access::Write))
        return GevStatus::AccessDenied;
    if (offset >= GetLength())
        return GevStatus::InvalidAddress;
    const uint32_t room = GetLength() - offset;
    const uint32_t n = (length != 0 && length <= room) ? length : room;

    AccessScope scope(*this, origin);
    SetStatus(GevStatus::Success);
    const std::vector<char> previous = m_Value;
    std::memcpy(m_Value.data() + offset, buffer, n);
    if (!validate(previous))
        return GevStatus::InvalidParameter;
    const uint32_t result = GetStatus();
    dispatch(CallbackList::AfterWrite);
    return result;
}

std::string StringReg::GetValue()
{
    AccessScope scope(*this, Origin::Internal);
    dispatch(CallbackList::BeforeRead);
    std::string text(m_Value.data(), textLength());
    dispatch(CallbackList::AfterRead);
    return text;
}

bool StringReg::SetValue(const char* text)
{
    AccessScope scope(*this, Origin::Internal);
    std::vector<char> previous = padded(text, GetLength());
    m_Value.swap(previous);
    if (!validate(previous))
        return false;
    dispatch(CallbackList::AfterWrite);
    return true;
}

bool StringReg::Subscribe(CallbackList list, const Callback<StringReg>& cb)
{
    ExclusiveLock lock(m_Lock);
    return m_Callbacks.Subscribe(static_cast<size_t>(list), cb);
}

void StringReg::RemoveCallbacks(CallbackList list, const Callback<StringReg>& cb)
{
    ExclusiveLock lock(m_Lock);
    m_Callbacks.Remove(static_cast<size_t>(list), cb);
}

}  // namespace Kivu
