#pragma once
// A callback on a register: a non-owning target and one of its member functions.
#include "model/base.h"

#include <cstring>
#include <type_traits>

namespace Kivu {

template <class T>
class Callback : public Base {
public:
    template <class Target>
    Callback(Target* target, bool (Target::*function)(T*))
        : m_Target(target), m_Object(target), m_Invoke(&invoke<Target>)
    {
        static_assert(std::is_base_of_v<Base, Target>, "callback targets derive from Kivu::Base");
        static_assert(sizeof(function) == sizeof(m_Function));
        std::memcpy(m_Function, &function, sizeof(function));
    }

    // Equal when target and member function are equal.
    bool operator==(const Callback& o) const
    {
        return m_Object == o.m_Object && m_Invoke == o.m_Invoke &&
               std::memcmp(m_Function, o.m_Function, sizeof(m_Function)) == 0;
    }

    bool TargetAlive() const { return m_Target->IsAlive(); }
    bool operator()(T* reg) const { return m_Invoke(m_Object, m_Function, reg); }

private:
    struct Probe : Base {
        bool f(T*);
    };
    using Invoker = bool (*)(void*, const unsigned char*, T*);

    template <class Target>
    static bool invoke(void* object, const unsigned char* stored, T* reg)
    {
        bool (Target::*function)(T*);
        std::memcpy(&function, stored, sizeof(function));
        return (static_cast<Target*>(object)->*function)(reg);
    }

    const Base* m_Target;
    void* m_Object;  // the target as its own type
    Invoker m_Invoke;
    alignas(void*) unsigned char m_Function[sizeof(bool (Probe::*)(T*))];
};

template <class Target, class T>
Callback<T> MakeCallback(Target* target, bool (Target::*function)(T*))
{
    return Callback<T>(target, function);
}

}  // namespace Kivu
