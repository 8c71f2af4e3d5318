// Going online: the scanner's set-up, the wait for its user name and lines per image, the
// device identity, and the camera's Start on the served address.
#include "bridge.h"

#include <string>

#include "command_builders.h"
#include "gev_camera.h"
#include "platform/privileges.h"

namespace lumabridge {
namespace {

constexpr uint32_t kLinesRetryMs = 500;

}  // namespace

bool Bridge::BuildDescription(const std::string& serverIp, int interfaceIndex, const std::string& userName)
{
    if (interfaceIndex != -1 && (interfaceIndex < 0 || static_cast<size_t>(interfaceIndex) >= m_Interfaces.size())) {
        m_Console.Message("Error: interface index " + std::to_string(interfaceIndex) +
                          " is not in the list of interfaces (" +
                          (m_Interfaces.empty() ? std::string("there is none")
                                                : "0.." + std::to_string(m_Interfaces.size() - 1)) +
                          ")\n");
        return false;
    }
    if (!m_Camera)
        return false;

    const ScannerHandle handle = m_Handle;
    if (handle) {
        const std::stop_token never;
        ConfigureScanner(never);
        for (;;) {
            if (interrupted(never))
                return false;
            m_Console.DebugOutput("Initiate parameters\n");
            UpdateScannerInfo();
            const ScannerInfo scanner = info();
            const bool named = userName.empty() || scanner.m_UserString == userName;
            const bool lines = m_OrbalisMode ? scanner.m_Regions[1].m_Height == 1 : scanner.m_Regions[1].m_Height != 0;
            if (named && lines)
                break;
            if (named) {
                SendSetAmountProfilesY(m_Scanner, handle, 1);
                pause(kLinesRetryMs, never);
            }
        }

        const ScannerInfo scanner = info();
        m_Camera->SetDeviceIdentity(scanner.m_Producer.c_str(), scanner.m_OrderNumber.c_str(), m_Version.c_str(),
                                    scanner.m_Description.c_str(), scanner.m_SerialNumber.c_str());
        m_Camera->SetMacAddress(scanner.m_MacAddress.c_str());
        m_Camera->SetUserDefinedName(scanner.m_UserString.c_str());
        DeclareFeatureTree(scanner);
        RegisterChunkFeatures();
    }
    return startCamera(serverIp, interfaceIndex);
}

bool Bridge::startCamera(const std::string& serverIp, int interfaceIndex)
{
    std::string startOn = serverIp;
    const bool addsAddress = interfaceIndex != -1 && m_Interfaces[interfaceIndex] != serverIp;
    if (addsAddress) {
        // The device adds the served address to the chosen interface before it binds.
        m_Camera->SetPersistentIp(serverIp.c_str(), "255.255.255.0", "0.0.0.0");
        startOn = m_Interfaces[interfaceIndex];
    }
    m_ServedIp = startOn;
    if (m_Camera->Start(startOn.c_str()) == GevResult::Ok) {
        m_Console.Output("Vantocam is online\n");
        StartImageThread();
        return true;
    }
    m_Console.Output("could not bring the server online\n");
    if (addsAddress && !platform::hasNetAdminCapability())
        m_Console.Message("Error: adding the served address " + serverIp + " to interface " +
                          std::to_string(interfaceIndex) + " (" + startOn +
                          ") needs the CAP_NET_ADMIN privilege: run as root, or add the address beforehand "
                          "(ip addr add " + serverIp + "/24 dev <interface>) and start without -n\n");
    return false;
}

}  // namespace lumabridge
