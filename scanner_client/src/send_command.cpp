// The WriteData path of a connection.
#include "cquillan.h"
#include "local_command.h"

#include <cstring>

namespace quillan {
namespace {
constexpr uint8_t kCameraModePacket1[8] = {0x00, 0x00, 0x00, 0x00, 0x00, 0xA0, 0x00, 0x02};
constexpr uint8_t kCameraModePacket2[8] = {0x00, 0x00, 0x00, 0x00, 0x00, 0x48, 0x00, 0x02};
constexpr char kSyncRequest[] = "SetRequestSyncContainer\r";
}  // namespace

int CQuillan::SendCommand(const char* text, int len)
{
    if (log_->enabled())
        log_->raw(logPrefix(this) + text + "\n");
    int textLength = static_cast<int>(std::strlen(text));
    switch (classifyCommand(text)) {
    case LocalCommand::InitializeAcquisition:
        return textLength;
    case LocalCommand::AutoConnectOff:
        tcp_.SetAutoReconnect(false);
        return textLength;
    case LocalCommand::AutoConnectOn:
        tcp_.SetAutoReconnect(true);
        return textLength;
    case LocalCommand::SortingXOff:
        sortX_ = false;
        return textLength;
    case LocalCommand::SortingXOn:
        sortX_ = true;
        return textLength;
    case LocalCommand::EchoModeOff:
        echoMode_ = false;
        return textLength;
    case LocalCommand::EchoModeOn:
        echoMode_ = true;
        return textLength;
    case LocalCommand::NewestFrameOnly:
        newestFrameOnly_ = true;
        return textLength;
    case LocalCommand::EveryFrame:
        newestFrameOnly_ = false;
        return textLength;
    case LocalCommand::CameraMode:
        tcp_.Send(reinterpret_cast<const char*>(kCameraModePacket1), 8);
        tcp_.Send(reinterpret_cast<const char*>(kCameraModePacket2), 8);
        parser_.requestResync();
        ring_->setDelivery(false);
        pause200ms();
        return textLength;
    case LocalCommand::None:
        break;
    }

    std::lock_guard lock(commandMutex_);
    int result = tcp_.Send(text, len) == len ? len : -1;
    if (echoMode_) {
        SyncContainerEvent.reset();
        int n = static_cast<int>(sizeof(kSyncRequest) - 1);
        if (tcp_.Send(kSyncRequest, n) != n)
            result -= 25;
        if (SyncContainerEvent.wait(1000) == platform::WaitResult::TimedOut)
            return -2;
        ResetFifo();
    }
    return result;
}

}  // namespace quillan
