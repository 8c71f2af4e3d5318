#include "lin/lin_store.h"

#include <cstring>
#include <new>

namespace quillan {

int LinStore::loadImage(const uint8_t* bytes, size_t length)
{
    clear();
    std::shared_ptr<Linearization> parsed;
    try {
        parsed = std::make_shared<Linearization>();
    } catch (const std::bad_alloc&) {
        return install(kLinNoMemory, nullptr);
    }
    const int rc = ParseLin1dd(bytes, length, *parsed);
    return install(rc, std::move(parsed));
}

int LinStore::loadFile(const char* path)
{
    clear();
    std::shared_ptr<Linearization> parsed;
    try {
        parsed = std::make_shared<Linearization>();
    } catch (const std::bad_alloc&) {
        return install(kLinFileNoMemory, nullptr);
    }
    const int rc = LoadLin1ddFile(path, *parsed);
    return install(rc, std::move(parsed));
}

int LinStore::install(int rc, std::shared_ptr<Linearization> parsed)
{
    const bool parameters = parsed && parsed->parametersLoaded();
    m_LinearizationMode.store(parsed && parsed->linearizationMode());
    std::lock_guard lock(m_Mutex);
    m_ParameterData = parameters ? parsed : nullptr;
    m_ParametersLoaded.store(parameters);
    if (rc == kLinOk && parsed)
        m_Active = std::move(parsed);
    return rc;
}

void LinStore::clearParametersLoaded()
{
    std::shared_ptr<const Linearization> old;
    std::lock_guard lock(m_Mutex);
    m_ParametersLoaded.store(false);
    old.swap(m_ParameterData);
}

std::shared_ptr<const Linearization> LinStore::parameterData() const
{
    std::lock_guard lock(m_Mutex);
    if (m_ParameterData)
        return m_ParameterData;
    // A (re)connection forgets a partial record, not the active data, which is complete.
    if (m_Active && m_Active->parametersLoaded())
        return m_Active;
    return nullptr;
}

void LinStore::clear()
{
    std::shared_ptr<const Linearization> old;
    std::lock_guard lock(m_Mutex);
    old.swap(m_Active);
}

std::shared_ptr<const Linearization> LinStore::active() const
{
    std::lock_guard lock(m_Mutex);
    return m_Active;
}

int LinStore::linearize(double u, double v, double* x, double* z) const
{
    const auto lin = active();
    if (!lin || !lin->tablesLoaded()) {
        if (x)
            *x = 0.0;
        if (z)
            *z = 0.0;
        return kLinNoData;
    }
    double value = 0.0;
    int rc = LinConvertPoint(lin->data().xTable, u, v, value);
    if (rc != kLinConverted)
        return rc;
    if (x)
        *x = value;
    rc = LinConvertPoint(lin->data().zTable, u, v, value);
    if (rc == kLinConverted && z)
        *z = value;
    return rc;
}

int LinStore::copyDescriptor(void* buf, int size) const
{
    if (buf == nullptr || size < static_cast<int>(kLinDataSize))
        return kLinNoData;
    const auto lin = active();
    if (!lin)
        return kLinNoData;
    std::memcpy(buf, &lin->data(), kLinDataSize);
    return 0;
}

}  // namespace quillan
