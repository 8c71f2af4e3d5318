#include "src/local_command.h"

#include <string_view>

namespace quillan {
namespace {

struct Entry {
    std::string_view text;
    LocalCommand command;
};

constexpr Entry kEntries[] = {
    {"SetInitializeAcquisition", LocalCommand::InitializeAcquisition},
    {"SetAutoConnectMode=0", LocalCommand::AutoConnectOff},
    {"SetAutoConnectMode=1", LocalCommand::AutoConnectOn},
    {"SetSortingX=0", LocalCommand::SortingXOff},
    {"SetSortingX=1", LocalCommand::SortingXOn},
    {"SetEchoMode=0", LocalCommand::EchoModeOff},
    {"SetEchoMode=1", LocalCommand::EchoModeOn},
    {"SetLibraryScannerFiFoMode=0", LocalCommand::NewestFrameOnly},
    {"SetLibraryScannerFiFoMode=1", LocalCommand::EveryFrame},
    {"SetCameraMode", LocalCommand::CameraMode},
    {"SetCameraMode=0", LocalCommand::CameraMode},
};

}  // namespace

LocalCommand classifyCommand(const char* text)
{
    std::string_view s(text);
    if (!s.empty() && s.back() == '\r')
        s.remove_suffix(1);
    for (const auto& e : kEntries)
        if (s == e.text)
            return e.command;
    return LocalCommand::None;
}

}  // namespace quillan
