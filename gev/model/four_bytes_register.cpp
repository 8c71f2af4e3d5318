#include "model/four_bytes_register.h"

#include "platform/bytes.h"

#include <bit>
#include <utility>

namespace Kivu {

template <class T, uint32_t N>
FourBytesRegister<T, N>::FourBytesRegister(uint32_t address, T value, uint32_t access, std::string name)
    : Register(address, sizeof(T), N, access, 0, std::move(name)), m_Value(std::bit_cast<Bits>(value))
{
}

template <class T, uint32_t N>
uint32_t FourBytesRegister<T, N>::Read(uint32_t offset, uint8_t* buffer, uint32_t length, uint32_t origin)
{
    const uint32_t n = length != 0 ? length : GetLength();
    if (buffer == nullptr || offset != 0 || (n != 4 && n != 8))
        return GevStatus::InvalidAddress;
    if (!Allows(origin, Access::Read))
        return GevStatus::AccessDenied;

    AccessScope scope(*this, origin);
    SetStatus(GevStatus::Success);
    dispatch(CallbackList::BeforeRead);
    if constexpr (sizeof(Bits) == 8) {
        if (n == 8)
            platform::storeBE64(buffer, m_Value);
        else
            platform::storeBE32(buffer, static_cast<uint32_t>(m_Value >> 32));  // the high half
    } else {
        platform::storeBE32(buffer, m_Value);
    }
    const uint32_t result = GetStatus();
    dispatch(CallbackList::AfterRead);
    return result;
}

template <class T, uint32_t N>
bool FourBytesRegister<T, N>::store(Bits bits)
{
    const Bits previous = m_Value;
    m_Value = bits;
    return AcceptOrRestore(m_Value, previous, [this] { return dispatch(CallbackList::BeforeWrite); });
}

template <class T, uint32_t N>
uint32_t FourBytesRegister<T, N>::Write(uint32_t offset, const uint8_t* buffer, uint32_t length,
                                        uint32_t origin)
{
    const uint32_t n = length != 0 ? length : GetLength();
    if (buffer == nullptr || offset != 0 || n != sizeof(Bits))
        return GevStatus::InvalidAddress;
    if (!Allows(origin, Access::Write))
        return GevStatus::AccessDenied;

    AccessScope scope(*this, origin);
    SetStatus(GevStatus::Success);
    Bits bits;
    if constexpr (sizeof(Bits) == 8)
        bits = platform::loadBE64(buffer);
    else
        bits = platform::loadBE32(buffer);
    if (!store(bits))
        return GevStatus::InvalidParameter;
    const uint32_t result = GetStatus();
    dispatch(CallbackList::AfterWrite);
    return result;
}

template <class T, uint32_t N>
T FourBytesRegister<T, N>::GetValue()
{
    AccessScope scope(*this, Origin::Internal);
    dispatch(CallbackList::BeforeRead);
    const Bits bits = m_Value;
    dispatch(CallbackList::AfterRead);
    return std::bit_cast<T>(bits);
}

template <class T, uint32_t N>
bool FourBytesRegister<T, N>::SetValue(T value)
{
    AccessScope scope(*this, Origin::Internal);
    if (!store(std::bit_cast<Bits>(value)))
        return false;
    dispatch(CallbackList::AfterWrite);
    return true;
}

template <class T, uint32_t N>
bool FourBytesRegister<T, N>::Subscribe(CallbackList list, const Callback<FourBytesRegister>& cb)
{
    ExclusiveLock lock(m_Lock);
    return m_Callbacks.Subscribe(static_cast<size_t>(list), cb);
}

template <class T, uint32_t N>
void FourBytesRegister<T, N>::RemoveCallbacks(CallbackList list, const Callback<FourBytesRegister>& cb)
{
    ExclusiveLock lock(m_Lock);
    m_Callbacks.Remove(static_cast<size_t>(list), cb);
}

template class FourBytesRegister<int, 0>;
template class FourBytesRegister<int64_t, 1>;
template class FourBytesRegister<unsigned, 2>;
template class FourBytesRegister<float, 3>;

}  // namespace Kivu
