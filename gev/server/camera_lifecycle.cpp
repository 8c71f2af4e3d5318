// Construction, Start, Stop, destruction, the GigE Vision mode and the handlers.
#include "server/camera.h"
#include "server/camera_guard.h"

#include "model/bootstrap_registers.h"
#include "server/netif_adapters.h"
#include "server/netif_linux.h"
#include "server/netif_text.h"

#include <arpa/inet.h>
#include <time.h>

#include <algorithm>
#include <cstdio>
#include <stdexcept>
#include <string>
#include <utility>

namespace Kivu {
namespace {

constexpr uint32_t kXmlAddress = 0x200000;
constexpr uint32_t kMaxUrl = 511;

thread_local const Camera* t_HandlerOf = nullptr;

uint64_t monotonicNs()
{
    timespec ts{};
    ::clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<uint64_t>(ts.tv_sec) * 1000000000u + static_cast<uint64_t>(ts.tv_nsec);
}

std::shared_ptr<INetPlatform> platformOrLinux(std::shared_ptr<INetPlatform> net)
{
    return net ? std::move(net) : std::make_shared<LinuxNetPlatform>();
}

// The file-name part of the "Local:" URL: characters that would end the
// field, leave the name or break a client's parse become '_'.
std::string urlName(const std::string& text)
{
    std::string out = text;
    for (char& c : out)
        if (c == ';' || c == '?' || c == '/' || c == '\\' || c == ':' || static_cast<unsigned char>(c) < 0x20 ||
            c == 0x7F)
            c = '_';
    return out;
}

}  // namespace

Camera::Camera(std::shared_ptr<INetPlatform> net)
    : m_Net(platformOrLinux(std::move(net))), m_Control(Tree(), m_Net),
      m_Messages(std::make_unique<MessageProtocol>(Tree())),
      m_StartTime(monotonicNs())
{
    m_Streams = std::make_unique<StreamChannels>(Tree());
    declareAcquisitionCommands();
    // One channel, as 0x0904 and the register blocks say.
    const uint32_t count = m_Streams->Count();
    for (uint32_t i = 0; i < count; ++i)
        m_Channels.push_back(std::make_unique<ChannelSettings>());
    m_ChunkAreas.resize(count);
    m_Adapters = OrderAdapters(m_Net->ListAdapters());

    m_Features->SetReadCallback(this, &Camera::featureRead);
    m_Features->SetWriteCallback(this, &Camera::featureWrite);
    m_Control.SetActionCallback(this, &Camera::action);
    m_Control.SetScheduledActionCallback(this, &Camera::scheduledAction);
    m_Control.SetClientConnectionCallback(this, &Camera::clientConnection);
    m_ImageHooks = std::make_unique<ImageRegisterHooks>(*this, *m_Tree);
}

Camera::~Camera()
{
    guarded("~Camera", [&] {
        Stop();
        m_ImageHooks.reset();
        m_Features->SetReadCallback(nullptr, nullptr);
        m_Features->SetWriteCallback(nullptr, nullptr);
        return GevResult::Ok;
    });
}

// Handlers ------------------------------------------------------------------

template <class Call>
bool Camera::runHandler(bool closedResult, Call&& call)
{
    m_HandlersInFlight.fetch_add(1);
    struct Leave {
        Camera& camera;
        const Camera* saved;
        ~Leave()
        {
            t_HandlerOf = saved;
            if (camera.m_HandlersInFlight.fetch_sub(1) == 1) {
                std::lock_guard lock(camera.m_HandlerMutex);
                camera.m_HandlersIdle.notify_all();
            }
        }
    } leave{*this, t_HandlerOf};
    if (!m_HandlersOpen.load())
        return closedResult;
    t_HandlerOf = this;
    // A handler that throws fails as one that refuses: what it throws never
    // reaches the thread that serves the access.
    return guarded<bool>("handler", false, std::forward<Call>(call));
}

void Camera::openHandlers()
{
    m_HandlerOpenings.fetch_add(1);
    m_HandlersOpen.store(true);
    m_Features->EnableCallbacks(true);
}

void Camera::closeHandlers()
{
    m_Features->EnableCallbacks(false);
    m_HandlersOpen.store(false);
    std::unique_lock lock(m_HandlerMutex);
    m_HandlersIdle.wait(lock, [&] { return m_HandlersInFlight.load() == 0; });
}

bool Camera::onHandlerThread() const { return t_HandlerOf == this; }

bool Camera::featureRead(void* self, const char* name)
{
    auto& camera = *static_cast<Camera*>(self);
    return camera.runHandler(true, [&] {
        Handler<::FeatureReadCallback> h;
        {
            std::lock_guard lock(camera.m_HandlerMutex);
            h = camera.m_Read;
        }
        return h.function == nullptr || h.function(h.context, name);
    });
}

bool Camera::featureWrite(void* self, const char* name)
{
    auto& camera = *static_cast<Camera*>(self);
    return camera.runHandler(true, [&] {
        Handler<::FeatureWriteCallback> h;
        {
            std::lock_guard lock(camera.m_HandlerMutex);
            h = camera.m_Write;
        }
        return h.function == nullptr || h.function(h.context, name);
    });
}

bool Camera::callAction(const Handler<::ActionCallback>& handler, const ActionCommandInfo* info)
{
    return handler.function != nullptr && info != nullptr && handler.function(handler.context, info);
}

bool Camera::action(void* self, const ActionCommandInfo* info)
{
    auto& camera = *static_cast<Camera*>(self);
    return camera.runHandler(false, [&] {
        Handler<::ActionCallback> h;
        {
            std::lock_guard lock(camera.m_HandlerMutex);
            h = camera.m_Action;
        }
        return callAction(h, info);
    });
}

bool Camera::scheduledAction(void* self, const ActionCommandInfo* info)
{
    auto& camera = *static_cast<Camera*>(self);
    return camera.runHandler(false, [&] {
        Handler<::ActionCallback> h;
        {
            std::lock_guard lock(camera.m_HandlerMutex);
            h = camera.m_Scheduled;
        }
        return callAction(h, info);
    });
}

void Camera::clientConnection(void* self, bool connected)
{
    auto& camera = *static_cast<Camera*>(self);
    camera.runHandler(true, [&] {
        Handler<::ClientConnectionCallback> h;
        {
            std::lock_guard lock(camera.m_HandlerMutex);
            h = camera.m_Connection;
        }
        if (h.function != nullptr)
            h.function(h.context, connected);
        return true;
    });
}

uint32_t Camera::SetFeatureReadCallback(void* context, FeatureReadCallback fn)
{
    return guarded(__func__, [&]() -> uint32_t {
        std::lock_guard lock(m_HandlerMutex);
        m_Read = {context, fn};
        return GevResult::Ok;
    });
}

uint32_t Camera::SetFeatureWriteCallback(void* context, FeatureWriteCallback fn)
{
    return guarded(__func__, [&]() -> uint32_t {
        std::lock_guard lock(m_HandlerMutex);
        m_Write = {context, fn};
        return GevResult::Ok;
    });
}

uint32_t Camera::SetActionCallback(void* context, ::ActionCallback fn)
{
    return guarded(__func__, [&]() -> uint32_t {
        std::lock_guard lock(m_HandlerMutex);
        m_Action = {context, fn};
        return GevResult::Ok;
    });
}

uint32_t Camera::SetScheduledActionCallback(void* context, ::ActionCallback fn)
{
    return guarded(__func__, [&]() -> uint32_t {
        std::lock_guard lock(m_HandlerMutex);
        m_Scheduled = {context, fn};
        return GevResult::Ok;
    });
}

uint32_t Camera::SetClientConnectionCallback(void* context, ::ClientConnectionCallback fn)
{
    return guarded(__func__, [&]() -> uint32_t {
        std::lock_guard lock(m_HandlerMutex);
        m_Connection = {context, fn};
        return GevResult::Ok;
    });
}

// Start and Stop -------------------------------------------------------------

const AdapterRecord* Camera::chooseAdapter(uint32_t ip, uint32_t& served) const
{
    served = ip;
    for (const AdapterRecord& a : m_Adapters)
        if (a.ipv4Sys == ip)
            return &a;
    if (ip < 0x7F000001 || ip > 0x7FFFFFFE)
        return nullptr;
    const AdapterRecord* loopback = nullptr;
    for (const AdapterRecord& a : m_Adapters)
        if (a.ipv4Sys == 0x7F000001)
            loopback = &a;
    return loopback;
}

uint32_t Camera::setUIntReg(uint32_t address, uint32_t value)
{
    auto reg = uintReg(address);
    return reg && reg->SetValue(value) ? GevResult::Ok : GevResult::Fail;
}

void Camera::writeAdapterRegisters(const AdapterRecord& adapter, uint32_t served)
{
    setUIntReg(Manufacturer::kAdapterIndex, adapter.ifIndex);
    setUIntReg(Manufacturer::kAdapterAddress, served);
    setUIntReg(Manufacturer::kAdapterMask, adapter.maskSys);
    setUIntReg(Manufacturer::kAdapterType, adapter.ifType);
    setUIntReg(Manufacturer::kAdapterMtu, std::min<uint32_t>(adapter.mtu, 0xFFFF));
    setUIntReg(Bootstrap::kLinkSpeed, adapter.speedMbps);
}

bool Camera::publishXml()
{
    const auto xml = m_Features->GetXml();
    if (!xml || xml->length == 0)
        return false;
    const uint32_t padded = (xml->length + 3) & ~uint32_t{3};
    const std::string text(xml->data(), xml->length);
    auto reg = std::make_shared<StringReg>(kXmlAddress, text.c_str(), padded, Access::Read);
    m_Tree->RemoveRegister(kXmlAddress);
    if (!m_Tree->AddRegister(reg))
        return false;
    m_PublishedXml = std::move(reg);
    if (auto second = m_Registers->String(Bootstrap::kSecondUrl))
        second->SetValue("");
    return writeFirstUrl(xml->length);
}

bool Camera::writeFirstUrl(uint32_t length)
{
    auto text = [&](uint32_t address) {
        auto reg = m_Registers->String(address);
        return reg ? urlName(reg->GetValue()) : std::string();
    };
    const std::string manufacturer = text(Bootstrap::kManufacturerName), model = text(Bootstrap::kModelName),
                      version = text(Bootstrap::kDeviceVersion);
    char url[kMaxUrl + 1];
    std::snprintf(url, sizeof url, "Local:%s_%s_%s.xml;%X;%X", manufacturer.c_str(), model.c_str(),
                  version.c_str(), kXmlAddress, length);
    auto first = m_Registers->String(Bootstrap::kFirstUrl);
    return first && first->SetValue(url);
}

void Camera::declareAcquisitionCommands()
{
    struct Command {
        const char* name;
        const char* reg;
        const char* description;
    };
    static constexpr Command kCommands[] = {
        {"AcquisitionStart", "regAcquisitionStart", "Start image acquisition using the specified acquisition mode"},
        {"AcquisitionStop", "regAcquisitionStop", "Stop image acquisition using the specified acquisition mode"},
    };
    for (const Command& c : kCommands) {
        if (AddRegisterFeature(6, c.name, "AcquisitionControl", 3, c.description, 1) != GevResult::Ok ||
            m_Features->SetChildUInt32(c.name, "CommandValue", 1) != GevResult::Ok)
            throw std::runtime_error(std::string("Fatal error: can't declare feature ") + c.name + "\n");
    }
    auto featureReg = [&](const char* name) -> std::shared_ptr<Register> {
        uint32_t address = 0;
        if (m_Features->GetFeatureAddress(name, address) != GevResult::Ok)
            return nullptr;
        return m_Tree->Find(address);
    };
    AcquisitionRegisters regs;
    regs.start = std::dynamic_pointer_cast<UIntReg>(featureReg("regAcquisitionStart"));
    regs.stop = std::dynamic_pointer_cast<UIntReg>(featureReg("regAcquisitionStop"));
    regs.sourceSelector = featureReg("regSourceSelector");
    regs.isMultistreaming = featureReg("regIsMultistreaming");
    regs.sourceStreamChannel = featureReg("regSourceStreamChannel");
    if (!regs.start || !regs.stop)
        throw std::runtime_error("Fatal error: acquisition command registers missing\n");
    m_Streams->AttachAcquisitionRegisters(regs);
}

uint32_t Camera::Start(const char* ipv4)
{
    return guarded(__func__, [&]() -> uint32_t {
        if (onHandlerThread())
            return GevResult::Fail;
        // The control protocol stops by itself when it cannot serve any address: finish that
        // Stop (streams, handlers, message channel) before starting afresh.
        if (!running() && m_Streams->IsRunning()) {
            const uint32_t stopped = Stop();
            if (stopped != GevResult::Ok)
                return stopped;
        }
        ExclusiveLock lock(m_Lock);
        if (m_Control.IsRunning())
            return GevResult::Running;
        uint32_t ip = 0;
        if (!ParseIpv4(ipv4, ip))
            return GevResult::InvalidArgument;
        uint32_t served = 0;
        const AdapterRecord* adapter = chooseAdapter(ip, served);
        if (adapter == nullptr)
            return GevResult::NotFound;
        writeAdapterRegisters(*adapter, served);
        if (!publishXml())
            return GevResult::Fail;
        setUIntReg(Bootstrap::kCurrentIpAddress, served);
        setUIntReg(Bootstrap::kCurrentSubnetMask, adapter->maskSys);
        m_Streams->Setup(adapter->mtu);
        for (uint32_t n = 0; n < m_Streams->Count(); ++n)
            rebuild(static_cast<int32_t>(n), false);
        const uint32_t started = m_Control.Start(m_GevMode.load());
        if (started != GevResult::Ok) {
            m_Control.Stop();  // removes an address it may have added
            return started;
        }
        if (!m_Streams->StartAll(m_GevMode.load())) {
            m_Control.Stop();
            return GevResult::Fail;
        }
        openHandlers();
        return GevResult::Ok;
    });
}

uint32_t Camera::Stop()
{
    return guarded(__func__, [&]() -> uint32_t {
        if (onHandlerThread())
            return GevResult::Fail;
        // Handlers first, outside the lock: one may be waiting for it.
        for (;;) {
            closeHandlers();
            const uint64_t openings = m_HandlerOpenings.load();
            m_Lock.AcquireExclusive(true);
            if (openings == m_HandlerOpenings.load())
                break;
            m_Lock.Release();  // a Start opened them again meanwhile
        }
        struct Unlock {
            RWLock& lock;
            ~Unlock() { lock.Release(); }
        } unlock{m_Lock};
        m_Streams->StopAll();
        m_Control.Stop();
        m_Messages->Close();  // also when MCP was opened without a client holding control
        return GevResult::Ok;
    });
}

bool Camera::IsRunning()
{
    return guarded<bool>(__func__, false, [&] { return running(); });
}

bool Camera::running()
{
    SharedLock lock(m_Lock);
    return m_Control.IsRunning();
}

uint32_t Camera::SetGevMode(uint16_t mode)
{
    struct Triple {
        uint32_t version, capability, gvsp;
    };
    static constexpr Triple kModes[] = {{0x00010002, 0xDA20005F, 0}, {0x00020000, 0xDA22005F, 0x40000000}};
    return guarded(__func__, [&]() -> uint32_t {
        if (mode > 1)
            return GevResult::InvalidArgument;
        m_GevMode.store(mode);
        const Triple& t = kModes[mode];
        const uint32_t s1 = m_Tree->WriteRegister(Bootstrap::kVersion, htonl(t.version), Origin::Local);
        const uint32_t s2 = m_Tree->WriteRegister(Bootstrap::kGvcpCapability, htonl(t.capability), Origin::Local);
        const uint32_t s3 = m_Tree->WriteRegister(Bootstrap::kGvspConfiguration, htonl(t.gvsp), Origin::Local);
        return s1 == 0 && s2 == 0 && s3 == 0 ? GevResult::Ok : GevResult::Fail;
    });
}

}  // namespace Kivu
