#pragma once
// The debug options file "QuillanDllDebug.txt" beside the host program.
#include <cstdint>
#include <istream>
#include <string>

namespace quillan {

inline constexpr char kDebugOptionsFileName[] = "QuillanDllDebug.txt";
inline constexpr uint32_t kMaxCaptureBytes = 104857600;

struct DebugOptions {
    uint32_t captureBytes = 0;      // 0: no capture of received bytes
    std::string captureValueText;   // the value as written, for the log
    bool debugFile = false;         // exact line "activatedebugfile"
    bool debugTerminal = false;     // exact line "activatedebugterminal"
};

// Lines end at '\n'; one trailing '\r' is dropped, so files written with CRLF work.
DebugOptions parseDebugOptions(std::istream& in);

// "QuillanDllOutputFile_<ip with '.' as '_'>.txt"
std::string debugFileName(const std::string& ip);

}  // namespace quillan
