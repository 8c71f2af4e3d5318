#include "quillan.h"

#include "src/cquillan.h"
#include "src/fifo_size_setting.h"
#include "src/handle_table.h"
#include "lin/lin_data.h"
#include "src/version.h"

#include "platform/clock.h"
#include "platform/debug_output.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <exception>
#include <utility>

using quillan::CQuillan;

namespace {

constexpr int kBadHandle = -1000;

// Runs fn(connection) under the slot's operation lock; -1000 when the handle is not open.
// Exceptions end at this boundary as `failure`.
template <typename Fn>
int withSlot(CScannerHandleTable* table, void* handle, int lockIndex, Fn&& fn, int failure = -1)
{
    try {
        CScannerLockBlock* block = table->find(handle);
        if (!block)
            return kBadHandle;
        std::lock_guard lock(block->mutexes[static_cast<size_t>(lockIndex)]);
        if (block->handle.load() != reinterpret_cast<uintptr_t>(handle) || !block->connection)
            return kBadHandle;
        return fn(*block->connection);
    } catch (...) {
        return failure;
    }
}

// Counts reads for the rate line and writes it every 3 s while debugging.
void countRead(CScannerHandleTable* table, const CQuillan& connection, const char* format)
{
    ++table->callCounter;
    if (!quillan::debugActive())
        return;
    uint32_t now = platform::tickCountMs();
    uint32_t last = table->lastRateTick.load();
    if (now - last > 3000 && table->lastRateTick.compare_exchange_strong(last, now)) {
        int count = table->callCounter.exchange(0);
        platform::debugOutput(quillan::format(format, connection.ip().c_str(), count / 3.0).c_str());
    }
}

}  // namespace

QuillanDLL::QuillanDLL() : m_Table(&CScannerHandleTable::instance()), m_ReadData(), m_Context(nullptr)
{
    std::lock_guard lock(m_Table->tableMutex);
    ++m_Table->users;
}

QuillanDLL::QuillanDLL(const QuillanDLL& other)
    : m_Table(other.m_Table), m_ReadData(other.m_ReadData), m_Context(other.m_Context)
{
    std::lock_guard lock(m_Table->tableMutex);
    ++m_Table->users;
}

QuillanDLL::~QuillanDLL()
{
    try {
        std::lock_guard tableLock(m_Table->tableMutex);
        if (--m_Table->users > 0)
            return;
        // The last object closes every connection of the process.
        m_Table->usedCount = 0;
        for (auto& slot : m_Table->lockBlocks) {
            CScannerLockBlock* block = slot.load();
            if (!block)
                continue;
            if (block->connection) {
                block->handle = 0;
                block->connection->Cleanup();
                delete block->connection;
                block->connection = nullptr;
            }
            slot = nullptr;
            delete block;
        }
    } catch (...) {
    }
}

namespace {

// Places a new connection in the lowest free slot; the caller holds the table mutex.
QuillanHandle connectSlot(CScannerHandleTable* table, char* ip, char* port, int timeoutMs, void* context,
                          const std::function<void(char*, int)>& readData, int fifoSize)
{
    table->callCounter = 0;
    int slot = 0;
    while (slot < CScannerHandleTable::kSlots) {
        CScannerLockBlock* block = table->lockBlocks[static_cast<size_t>(slot)].load();
        if (!block || !block->connection)
            break;
        ++slot;
    }
    if (slot == CScannerHandleTable::kSlots)
        return nullptr;

    auto& entry = table->lockBlocks[static_cast<size_t>(slot)];
    if (!entry.load())
        entry = new CScannerLockBlock;
    CScannerLockBlock* block = entry.load();

    auto connection = std::make_unique<CQuillan>();
    if (connection->Connect(ip, port, timeoutMs, context, readData, fifoSize)) {
        connection->Cleanup();
        return nullptr;
    }
    uintptr_t handle = table->makeHandle(slot);
    {
        auto& m = block->mutexes;
        std::scoped_lock all(m[0], m[1], m[2], m[3], m[4], m[5], m[6], m[7], m[8], m[9], m[10], m[11]);
        block->connection = connection.release();
        block->handle = handle;
    }
    if (slot == table->usedCount)
        ++table->usedCount;
    return reinterpret_cast<QuillanHandle>(handle);
}

}  // namespace

QuillanHandle QuillanDLL::Connect(char* ip, char* port, int timeoutMs)
{
    try {
        std::lock_guard tableLock(m_Table->tableMutex);
        return connectSlot(m_Table, ip, port, timeoutMs, m_Context, m_ReadData, m_Table->dllFifoSize);
    } catch (...) {
        return nullptr;
    }
}

void QuillanDLL::ConnectEx(void*, char* ip, char* port, int timeoutMs)
{
    // Always the default FIFO size; the caller gets no handle. A failed connection frees its slot.
    try {
        std::lock_guard tableLock(m_Table->tableMutex);
        connectSlot(m_Table, ip, port, timeoutMs, m_Context, m_ReadData, quillan::kDefaultDllFifoSize);
    } catch (...) {
    }
}

QuillanHandle QuillanDLL::Disconnect(QuillanHandle handle)
{
    if (!handle)
        return nullptr;
    try {
        CScannerLockBlock* block = m_Table->find(handle);
        if (!block)
            return handle;
        CQuillan* connection = nullptr;
        {
            auto& m = block->mutexes;
            std::scoped_lock all(m[0], m[1], m[2], m[3], m[4], m[5], m[6], m[7], m[8], m[9], m[10], m[11]);
            if (block->handle.load() != reinterpret_cast<uintptr_t>(handle) || !block->connection)
                return handle;
            // A callback on the connection's own receive thread cannot stop that thread.
            if (block->connection->onReceiveThread())
                return handle;
            connection = block->connection;
            connection->Cleanup();
            block->handle = 0;
            block->connection = nullptr;
        }
        delete connection;
        return nullptr;
    } catch (...) {
        return handle;
    }
}

int QuillanDLL::GetConnectStatus(QuillanHandle handle, int* status)
{
    if (!handle)
        return kBadHandle;
    int result = withSlot(m_Table, handle, kLockGetConnectStatus, [&](CQuillan& c) {
        if (status)
            *status = c.status();
        return 0;
    });
    if (result == kBadHandle && status)
        *status = 0;
    return result;
}

int QuillanDLL::GetRawData(QuillanHandle handle, unsigned char* buf, int len, int)
{
    return withSlot(m_Table, handle, kLockGetRawData, [&](CQuillan& c) {
        countRead(m_Table, c, "%s: DllToApp: %.1fHz\n");
        return c.GetRawData(buf, len);
    });
}

int QuillanDLL::GetXZIExtended(QuillanHandle handle, double* x, double* z, int* intensity, int* width, int maxPoints,
                               unsigned* encoder, unsigned char* ioBits, int timeoutMs, unsigned char* rawBuf,
                               int rawBufLen, int* pictureCounter)
{
    return withSlot(m_Table, handle, kLockGetXZIExtended, [&](CQuillan& c) {
        countRead(m_Table, c, "%s: DllToApp: %.1f Hz\n");
        return c.GetXZIExtended(
            quillan::XziOutputs{x, z, intensity, width, maxPoints, encoder, ioBits, rawBuf, rawBufLen, pictureCounter},
            timeoutMs);
    });
}

int QuillanDLL::GetInfo(QuillanHandle handle, char* buf, int len, char* kind)
{
    return withSlot(m_Table, handle, kLockGetInfo, [&](CQuillan& c) { return c.GetInfo(buf, len, kind); });
}

int QuillanDLL::WriteData(QuillanHandle handle, char* text, int len)
{
    if (!text)
        return -1;
    if (!handle) {
        try {
            auto parsed = quillan::parseFifoSizeSetting(text);
            switch (parsed.kind) {
            case quillan::FifoSizeSetting::NotASetting:
                return kBadHandle;
            case quillan::FifoSizeSetting::Invalid:
                return -1;
            case quillan::FifoSizeSetting::Valid: {
                std::lock_guard tableLock(m_Table->tableMutex);
                m_Table->dllFifoSize = parsed.size;
                return static_cast<int>(std::strlen(text));
            }
            }
        } catch (...) {
            return -1;
        }
    }
    return withSlot(m_Table, handle, kLockWriteData, [&](CQuillan& c) { return c.SendCommand(text, len); });
}

int QuillanDLL::GetVersion(unsigned char* buf, int len)
{
    constexpr int n = sizeof(quillan::kVersionText) - 1;
    if (!buf || len < n + 1) {
        if (buf && len != 0)
            buf[0] = '?';
        return -1;
    }
    std::memcpy(buf, quillan::kVersionText, n + 1);
    return n;
}

int QuillanDLL::Linearize(QuillanHandle handle, double px, double pz, double* outX, double* outZ)
{
    return withSlot(m_Table, handle, kLockLinearize,
                    [&](CQuillan& c) { return c.linearization().linearize(px, pz, outX, outZ); });
}

int QuillanDLL::SetLinearizationFile(QuillanHandle handle, char* path)
{
    return withSlot(m_Table, handle, kLockSetLinearizationFile,
                    [&](CQuillan& c) { return c.SetLinearizationFile(path); });
}

int QuillanDLL::ResetDllFiFo(QuillanHandle handle)
{
    return withSlot(m_Table, handle, kLockResetDllFiFo, [&](CQuillan& c) {
        c.ResetFifo();
        return 0;
    });
}

int QuillanDLL::GetDllFiFoState(QuillanHandle handle)
{
    return withSlot(m_Table, handle, kLockGetDllFiFoState, [&](CQuillan& c) { return c.fifoFillPercent(); });
}

int QuillanDLL::GetLinDatType(QuillanHandle handle, void* buf, int size)
{
    return withSlot(m_Table, handle, kLockGetLinDatType,
                    [&](CQuillan& c) { return c.linearization().copyDescriptor(buf, size); });
}

int QuillanDLL::ReadData(QuillanHandle handle, char* name, char* buf, int len, int cacheMs)
{
    return withSlot(m_Table, handle, kLockReadData, [&](CQuillan& c) { return c.ReadData(name, buf, len, cacheMs); });
}

int QuillanDLL::GetImage(QuillanHandle handle, char* buf, int bufLen, unsigned* widthX, unsigned* heightZ,
                         unsigned* offsetX, unsigned* offsetZ, unsigned* stepX, unsigned* stepZ, unsigned timeoutMs)
{
    return withSlot(m_Table, handle, kLockGetImage, [&](CQuillan& c) {
        return c.GetImage(buf, bufLen, quillan::ImageOutputs{widthX, heightZ, offsetX, offsetZ, stepX, stepZ},
                          timeoutMs);
    });
}

int QuillanDLL::ConvertMmToPix(QuillanHandle handle, double x1, double z1, double x2, double z2, int* out1, int* out2,
                               int* out3, int* out4)
{
    try {
        quillan::LinData lin;
        int rc = GetLinDatType(handle, &lin, static_cast<int>(sizeof(lin)));
        if (rc != 0)
            return rc;
        auto param = [&](int p) { return lin.parameters[p]; };
        auto paramFloat = [&](int p) { return static_cast<double>(std::bit_cast<float>(lin.parameters[p])); };
        const int widthX = param(quillan::kLinWidthX);
        const int widthZ = param(quillan::kLinWidthZ);
        const double zStart = paramFloat(quillan::kLinZStart);
        const double zRange = paramFloat(quillan::kLinZRange);
        const double xs = paramFloat(quillan::kLinXRangeAtStart);
        const double xe = paramFloat(quillan::kLinXRangeAtEnd);

        // Values from the scanner are checked before they size the scans or divide.
        constexpr int kMaxSensorSize = 1 << 16;
        if (widthX <= 0 || widthZ <= 0 || widthX > kMaxSensorSize || widthZ > kMaxSensorSize ||
            !std::isfinite(zStart) || !std::isfinite(zRange) || !(zRange > 0) || !std::isfinite(xs) ||
            !std::isfinite(xe))
            return -1;

        const double xmin = std::min(x1, x2), xmax = std::max(x1, x2);
        const double zmin = std::min(z1, z2), zmax = std::max(z1, z2);
        const double zLow = std::max(zStart, zmin);
        const double zEnd = static_cast<double>(static_cast<float>(zStart) + static_cast<float>(zRange));
        const double zHigh = std::min(zEnd, zmax);
        const double halfLow = GetPointOnTrapezEdgeCorrected(xs, xe, zRange, zLow - zStart);
        const double halfHigh = GetPointOnTrapezEdgeCorrected(xs, xe, zRange, zHigh - zStart);
        const double xLeftLow = std::max(-halfLow, xmin), xRightLow = std::min(halfLow, xmax);
        const double xLeftHigh = std::max(-halfHigh, xmin), xRightHigh = std::min(halfHigh, xmax);

        // Nearest sensor index to each of two targets along one scan; false when nothing converts.
        struct Nearest {
            double distance = 0;
            int index = -1;
            void offer(double d, int i)
            {
                if (index < 0 || d < distance) {
                    distance = d;
                    index = i;
                }
            }
        };
        auto scan = [&](int count, auto point, bool useZ, double a, double b, int& ia, int& ib) {
            Nearest na, nb;
            for (int i = 0; i < count; ++i) {
                auto [u, v] = point(i);
                double x = 0, z = 0;
                if (Linearize(handle, u, v, &x, &z) != 0)
                    continue;
                double value = useZ ? z : x;
                na.offer(std::fabs(value - a), i);
                nb.offer(std::fabs(value - b), i);
            }
            ia = na.index;
            ib = nb.index;
            return na.index >= 0;
        };

        int rowLow, rowHigh, cLeftHigh, cRightHigh, cLeftLow, cRightLow;
        auto rowPoint = [&](int r) { return std::pair<double, double>(widthX / 2, r); };
        if (!scan(widthZ, rowPoint, true, zLow, zHigh, rowLow, rowHigh))
            return -1;
        auto columnAt = [](int row) { return [row](int c) { return std::pair<double, double>(c, row); }; };
        if (!scan(widthX, columnAt(rowHigh), false, xLeftHigh, xRightHigh, cLeftHigh, cRightHigh))
            return -1;
        if (!scan(widthX, columnAt(rowLow), false, xLeftLow, xRightLow, cLeftLow, cRightLow))
            return -1;

        int left = std::max(cLeftHigh, cLeftLow), right = std::min(cRightHigh, cRightLow);
        if (left > right) {
            left = std::min(cLeftHigh, cLeftLow);
            right = std::max(cRightHigh, cRightLow);
        }
        const int shift = widthX == 1280 ? 16 : 0;
        if (out1)
            *out1 = std::min(left, right) + shift;
        if (out2)
            *out2 = std::min(rowLow, rowHigh) - 12;
        if (out3)
            *out3 = std::max(left, right) + shift;
        if (out4)
            *out4 = std::max(rowLow, rowHigh) + 20;
        return 0;
    } catch (...) {
        return -1;
    }
}

void QuillanDLL::SetReadDataCallback(void* context, void* fn)
{
    try {
        auto callback = reinterpret_cast<QuillanReadDataCallback>(fn);
        if (callback)
            m_ReadData = [context, callback](char* data, int length) { callback(context, data, length); };
        else
            m_ReadData = nullptr;
        m_Context = nullptr;
    } catch (...) {
    }
}

double QuillanDLL::GetPointOnTrapezEdgeCorrected(double xs, double xe, double zRange, double dz)
{
    return (xe - xs) * 0.5 / zRange * dz + xs * 0.5;
}
