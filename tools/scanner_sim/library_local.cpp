#include "scanner_sim/library_local.h"

namespace scanner_sim {

bool isLibraryLocalCommand(std::string_view text)
{
    constexpr std::string_view kPrefixes[] = {
        "SetInitializeAcquisition", "SetAutoConnectMode=", "SetSortingX=", "SetEchoMode=",
        "SetLibraryScannerFiFoMode=", "SetCameraMode", "SetDllFiFoSize", "SetLibraryScannerFiFoSize",
    };
    for (std::string_view p : kPrefixes)
        if (text.starts_with(p))
            return true;
    return false;
}

}  // namespace scanner_sim
