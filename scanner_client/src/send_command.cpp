// The WriteData path of a connection.
#include "src/cquillan.h"
#include "src/local_command.h"

#include <cstring>

namespace quillan {
namespace {
constexpr uint8_t kCameraModePacket1[8] = {0x00, 0x00, 0x00, 0x00, 0x00, 0xA0, 0x00, 0x02};
constexpr uint8_t kCameraModePacket2[8] = {0x00, 0x00, 0x00, 0x00, 0x00, 0x48, 0x00, 0x02};
constexpr char kSyncRequest[] = "SetRequestSyncContainer\r";
}  // namespace

int CQuillan::SendCommand(const char* text, int len)
{
    if (m_Log->enabled())
        m_Log->raw(logPrefix(this) + text + "\n");
    int textLength = static_cast<int>(std::strlen(text));
    switch (classifyCommand(text)) {
    case LocalCommand::InitializeAcquisition:
        return textLength;
    case LocalCommand::AutoConnectOff:
        m_Tcp.SetAutoReconnect(false);
        return textLength;
    case LocalCommand::AutoConnectOn:
        m_Tcp.SetAutoReconnect(true);
        return textLength;
    case LocalCommand::SortingXOff:
        m_SortX = false;
        return textLength;
    case LocalCommand::SortingXOn:
        m_SortX = true;
        return textLength;
    case LocalCommand::EchoModeOff:
        m_EchoMode = false;
        return textLength;
    case LocalCommand::EchoModeOn:
        m_EchoMode = true;
        return textLength;
    case LocalCommand::NewestFrameOnly:
        m_NewestFrameOnly = true;
        return textLength;
    case LocalCommand::EveryFrame:
        m_NewestFrameOnly = false;
        return textLength;
    case LocalCommand::CameraMode:
        m_Tcp.Send(reinterpret_cast<const char*>(kCameraModePacket1), 8);
        m_Tcp.Send(reinterpret_cast<const char*>(kCameraModePacket2), 8);
        m_Parser.requestResync();
        m_Ring->setDelivery(false);
        pause200ms();
        return textLength;
    case LocalCommand::None:
        break;
    }

    std::lock_guard lock(m_CommandMutex);
    int result = m_Tcp.Send(text, len) == len ? len : -1;
    if (m_EchoMode) {
        SyncContainerEvent.reset();
        int n = static_cast<int>(sizeof(kSyncRequest) - 1);
        if (m_Tcp.Send(kSyncRequest, n) != n)
            result -= 25;
        if (SyncContainerEvent.wait(1000) == platform::WaitResult::TimedOut)
            return -2;
        ResetFifo();
    }
    return result;
}

}  // namespace quillan
