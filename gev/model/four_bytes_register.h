#pragma once
// Registers holding one number: 32-bit signed, 64-bit signed, 32-bit unsigned or float.
#include "model/callback_lists.h"
#include "model/register.h"

#include <cstdint>
#include <string>
#include <type_traits>

namespace Kivu {

template <class T, uint32_t N>
class FourBytesRegister : public Register {
public:
    using Value = T;

    FourBytesRegister(uint32_t address, T value, uint32_t access, std::string name = {});

    uint32_t Read(uint32_t offset, uint8_t* buffer, uint32_t length, uint32_t origin) override;
    uint32_t Write(uint32_t offset, const uint8_t* buffer, uint32_t length, uint32_t origin) override;

    // Internal access in host order (origin 0): access bits are ignored, callbacks run.
    T GetValue();
    bool SetValue(T value);

    // Both take the register's lock. Subscribe returns false when the calling
    // thread is dispatching this register's callbacks (nothing is added).
    bool Subscribe(CallbackList list, const Callback<FourBytesRegister>& cb);
    void RemoveCallbacks(CallbackList list, const Callback<FourBytesRegister>& cb);

private:
    using Bits = std::conditional_t<sizeof(T) == 8, uint64_t, uint32_t>;
    static_assert(sizeof(T) == sizeof(Bits));

    bool dispatch(CallbackList list) { return m_Callbacks.Dispatch(static_cast<size_t>(list), this); }
    // Stores bits, runs the validators and restores the previous value when
    // they refuse or throw. Runs under the access scope.
    bool store(Bits bits);

    CallbackLists<FourBytesRegister, 4> m_Callbacks;
    Bits m_Value;
};

extern template class FourBytesRegister<int, 0>;
extern template class FourBytesRegister<int64_t, 1>;
extern template class FourBytesRegister<unsigned, 2>;
extern template class FourBytesRegister<float, 3>;

using IntReg = FourBytesRegister<int, 0>;
using Int64Reg = FourBytesRegister<int64_t, 1>;
using UIntReg = FourBytesRegister<unsigned, 2>;
using FloatReg = FourBytesRegister<float, 3>;

// The control channel privilege register and the stream channels' packet size
// registers, distinct by their role only.
class CCPReg : public UIntReg {
public:
    using UIntReg::UIntReg;
};

class SCPSReg : public UIntReg {
public:
    using UIntReg::UIntReg;
};

}  // namespace Kivu
