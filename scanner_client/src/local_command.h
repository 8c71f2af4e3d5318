#pragma once
// Texts of WriteData that the library answers itself instead of sending them to the scanner.

namespace quillan {

enum class LocalCommand {
    None,  // a scanner command: sent unchanged
    InitializeAcquisition,
    AutoConnectOff,
    AutoConnectOn,
    SortingXOff,
    SortingXOn,
    EchoModeOff,
    EchoModeOn,
    NewestFrameOnly,
    EveryFrame,
    CameraMode,
};

// Whole-text, case-sensitive match, with or without one trailing '\r'.
LocalCommand classifyCommand(const char* text);

}  // namespace quillan
