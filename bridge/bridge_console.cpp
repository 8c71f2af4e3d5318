#include "bridge_console.h"

#include <iostream>

namespace lumabridge {

BridgeConsole::BridgeConsole() : m_Out(&std::cout), m_Err(&std::cerr) {}

void BridgeConsole::SetStreams(std::ostream& out, std::ostream& err)
{
    std::lock_guard lock(m_Mutex);
    m_Out = &out;
    m_Err = &err;
}

void BridgeConsole::Message(std::string_view text)
{
    std::lock_guard lock(m_Mutex);
    *m_Err << text << std::flush;
}

void BridgeConsole::Output(std::string_view text)
{
    std::lock_guard lock(m_Mutex);
    *m_Out << text << std::flush;
}

void BridgeConsole::toLog(std::string_view text)
{
    if (m_LogOpen && !text.empty())
        m_Log << text << std::flush;
}

void BridgeConsole::Debug(std::string_view logText, std::string_view consoleText)
{
    std::lock_guard lock(m_Mutex);
    toLog(logText);
    if (m_Debug && !consoleText.empty())
        *m_Err << consoleText << std::flush;
}

void BridgeConsole::DebugOutput(std::string_view logText, std::string_view consoleText)
{
    std::lock_guard lock(m_Mutex);
    toLog(logText);
    if (m_Debug && !consoleText.empty())
        *m_Out << consoleText << std::flush;
}

void BridgeConsole::OpenLog(const std::string& name)
{
    std::lock_guard lock(m_Mutex);
    m_Log.open(name, std::ios::out | std::ios::trunc);
    if (m_Log.is_open()) {
        m_LogOpen = true;
        m_Log << "///////////" << std::endl << "///////////" << std::endl;
        return;
    }
    m_Log.clear();
    m_Log.open(name, std::ios::out | std::ios::trunc);
    if (m_Log.is_open()) {
        m_LogOpen = true;
        m_Log << "xxxxxxxxxxxxxx" << std::endl << "xxxxxxxxxxxxx" << std::endl;
    }
}

void BridgeConsole::CloseLog()
{
    std::lock_guard lock(m_Mutex);
    if (!m_LogOpen)
        return;
    m_LogOpen = false;
    m_Log.close();
}

bool BridgeConsole::LogOpen() const
{
    std::lock_guard lock(m_Mutex);
    return m_LogOpen;
}

}  // namespace lumabridge
