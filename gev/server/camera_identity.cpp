// Host adapters, the device's network identity and its identity strings.
#include "server/camera.h"
#include "server/camera_guard.h"

#include "model/bootstrap_registers.h"
#include "server/netif_text.h"

#include <arpa/inet.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <utility>

namespace Kivu {
namespace {

// Identity texts reach clients in DISCOVERY answers and, for the first three,
// the "Local:" URL: control characters, and ';' and '?' in those three, become '_'.
std::string cleanIdentity(const char* text, bool inUrl)
{
    std::string out = text;
    for (char& c : out) {
        const auto u = static_cast<unsigned char>(c);
        if (u < 0x20 || u == 0x7F || (inUrl && (c == ';' || c == '?')))
            c = '_';
    }
    return out;
}

}  // namespace

int32_t Camera::GetNetworkInterfaceCount()
{
    return guarded<int32_t>(__func__, 0, [&] { return static_cast<int32_t>(m_Adapters.size()); });
}

uint32_t Camera::GetNetworkInterfaceIp(uint32_t index, char ip[16])
{
    return guarded(__func__, [&]() -> uint32_t {
        if (index >= m_Adapters.size())
            return GevResult::NotFound;
        return FormatIpv4(m_Adapters[index].ipv4Sys, ip, 16) ? GevResult::Ok : GevResult::Fail;
    });
}

uint32_t Camera::GetNetworkInterfaceInfo(uint32_t index, NetworkInterfaceInfo* out)
{
    return guarded(__func__, [&]() -> uint32_t {
        if (index >= m_Adapters.size() || out == nullptr)
            return GevResult::Fail;
        const AdapterRecord& a = m_Adapters[index];
        NetworkInterfaceInfo info;
        info.ip = htonl(a.ipv4Sys);
        std::memcpy(info.mac, a.phys, sizeof info.mac);
        info.mask = htonl(a.maskSys);
        info.reserved = 0;
        info.linkSpeedBps = a.speedBps;
        info.mtu = static_cast<uint16_t>(a.mtu > 0xFFFF ? 0xFFFF : a.mtu);
        *out = info;
        return GevResult::Ok;
    });
}

uint32_t Camera::SetPersistentIp(const char* ip, const char* mask, const char* gateway)
{
    return guarded(__func__, [&]() -> uint32_t {
        if (running())
            return GevResult::Running;
        uint32_t ipValue = 0, maskValue = 0, gatewayValue = 0;
        // Every given text must parse; nothing changes otherwise.
        if ((ip != nullptr && !ParseIpv4(ip, ipValue)) || (mask != nullptr && !ParseIpv4(mask, maskValue)) ||
            (gateway != nullptr && !ParseIpv4(gateway, gatewayValue)))
            return GevResult::InvalidArgument;
        auto config = uintReg(Bootstrap::kCurrentIpConfiguration);
        const bool enabled = (config->GetValue() & 1) != 0;
        if (enabled) {
            if (ip == nullptr) {
                config->SetValue(config->GetValue() & ~1u);
                return GevResult::Ok;
            }
            setUIntReg(Bootstrap::kPersistentIpAddress, ipValue);
            if (mask != nullptr)
                setUIntReg(Bootstrap::kPersistentSubnetMask, maskValue);
        } else {
            if (ip == nullptr || mask == nullptr)
                return GevResult::Ok;
            config->SetValue(config->GetValue() | 1u);
            setUIntReg(Bootstrap::kPersistentIpAddress, ipValue);
            setUIntReg(Bootstrap::kPersistentSubnetMask, maskValue);
        }
        if (gateway != nullptr)
            setUIntReg(Bootstrap::kPersistentDefaultGateway, gatewayValue);
        return GevResult::Ok;
    });
}

uint32_t Camera::GetCurrentIp(char ip[16], char mask[16], char gateway[16])
{
    return guarded(__func__, [&]() -> uint32_t {
        if (ip == nullptr || mask == nullptr || gateway == nullptr)
            return GevResult::InvalidArgument;
        const bool ok = FormatIpv4(uintReg(Bootstrap::kCurrentIpAddress)->GetValue(), ip, 16) &&
                        FormatIpv4(uintReg(Bootstrap::kCurrentSubnetMask)->GetValue(), mask, 16) &&
                        FormatIpv4(uintReg(Bootstrap::kCurrentDefaultGateway)->GetValue(), gateway, 16);
        return ok ? GevResult::Ok : GevResult::Fail;
    });
}

uint32_t Camera::SetMacAddress(const char* text)
{
    return guarded(__func__, [&]() -> uint32_t {
        if (text == nullptr)
            return GevResult::InvalidArgument;
        if (running())
            return GevResult::Running;
        uint8_t mac[6];
        if (!ParseMac(text, mac))
            return GevResult::Fail;
        setUIntReg(Bootstrap::kDeviceMacHigh, (uint32_t{mac[0]} << 8) | mac[1]);
        setUIntReg(Bootstrap::kDeviceMacLow,
                   (uint32_t{mac[2]} << 24) | (uint32_t{mac[3]} << 16) | (uint32_t{mac[4]} << 8) | mac[5]);
        return GevResult::Ok;
    });
}

uint32_t Camera::GetMacAddress(char out[13])
{
    return guarded(__func__, [&]() -> uint32_t {
        if (out == nullptr)
            return GevResult::InvalidArgument;
        // The address is 48 bits: only the low half of the high register belongs to it.
        const uint64_t mac = (uint64_t{uintReg(Bootstrap::kDeviceMacHigh)->GetValue() & 0xFFFFu} << 32) |
                             uintReg(Bootstrap::kDeviceMacLow)->GetValue();
        std::snprintf(out, 13, "%llX", static_cast<unsigned long long>(mac));
        return GevResult::Ok;
    });
}

uint32_t Camera::SetDeviceIdentity(const char* manufacturer, const char* model, const char* deviceVersion,
                                   const char* manufacturerInfo, const char* serialNumber)
{
    return guarded(__func__, [&]() -> uint32_t {
        if (running())
            return GevResult::Running;
        const std::pair<uint32_t, const char*> texts[] = {
            {Bootstrap::kManufacturerName, manufacturer},
            {Bootstrap::kModelName, model},
            {Bootstrap::kDeviceVersion, deviceVersion},
            {Bootstrap::kManufacturerInfo, manufacturerInfo},
            {Bootstrap::kSerialNumber, serialNumber}};
        uint32_t result = GevResult::Ok;
        for (const auto& [address, text] : texts) {
            if (text == nullptr)
                continue;
            auto reg = m_Registers->String(address);
            if (!reg || !reg->SetValue(cleanIdentity(text, address <= Bootstrap::kDeviceVersion).c_str()))
                result = GevResult::Fail;
        }
        return result;
    });
}

uint32_t Camera::SetUserDefinedName(const char* text)
{
    return guarded(__func__, [&]() -> uint32_t {
        if (running())
            return GevResult::Running;
        if (text == nullptr)
            return GevResult::Ok;
        auto reg = m_Registers->String(Bootstrap::kUserDefinedName);
        return reg && reg->SetValue(cleanIdentity(text, false).c_str()) ? GevResult::Ok : GevResult::Fail;
    });
}

}  // namespace Kivu
