#pragma once
// TCP connection to one scanner with its own receive thread: connects, retries every second,
// receives in chunks, drops the link on silence longer than the time-out, and reconnects.
#include "src/debug_log.h"

#include "platform/unique_fd.h"
#include "platform/worker_thread.h"

#include <netinet/in.h>

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <stop_token>

namespace quillan {

class TcpClient {
public:
    using Callback = std::function<void()>;
    using DataCallback = std::function<void(char*, unsigned long)>;
    using ReadDataCallable = std::function<void(char*, int)>;

    static constexpr int kReceiveChunk = 65535;
    static constexpr int kSocketBufferBytes = 41984000;
    static constexpr int kSendTimeoutMs = 2000;

    TcpClient();
    ~TcpClient();
    TcpClient(const TcpClient&) = delete;
    TcpClient& operator=(const TcpClient&) = delete;

    void SetLog(std::shared_ptr<DebugLog> log) { m_Log = std::move(log); }
    void SetCallbacks(Callback connected, Callback disconnected, DataCallback data, void* context,
                      ReadDataCallable readData);
    // Starts the thread. Throws std::system_error when no thread can be made.
    void Start(const std::string& ip, const std::string& port, int timeoutMs);
    // Ends and joins the thread; false (and nothing done) when called on the thread itself.
    bool Stop();
    // All bytes sent: length; not connected or a send error or time-out: -1.
    int Send(const char* data, int length);
    void SetAutoReconnect(bool on) { m_AutoReconnect = on; }
    bool autoReconnect() const { return m_AutoReconnect; }
    bool connected() const { return m_Connected; }
    bool onThread() const;
    void Reset();

    const std::string& ip() const { return m_Ip; }

private:
    void ThreadProc(std::stop_token stop);
    // Connects one socket; returns it, or an invalid one after the attempt's second has passed.
    platform::UniqueFD connectOnce(const sockaddr_in& addr, std::stop_token& stop);
    enum class Loss { None, Select, Recv };
    Loss receive(int fd, std::stop_token& stop, char* buffer, int& lastResult);
    void publishSocket(platform::UniqueFD fd);
    void closeSocket();
    bool waitWake(int timeoutMs);
    void OnConnected();
    void OnDisconnected();
    void log(const std::string& text);

    std::shared_ptr<DebugLog> m_Log;
    std::string m_Ip;
    std::string m_Port;
    int m_TimeoutMs = 0;
    std::atomic<bool> m_AutoReconnect{true};
    std::atomic<bool> m_Connected{false};

    Callback m_ConnectedCallback;
    Callback m_DisconnectedCallback;
    DataCallback m_DataCallback;
    ReadDataCallable m_ReadData;
    void* m_Context = nullptr;

    // Guards the socket against being closed and its number reused while a caller sends.
    std::mutex m_SocketMutex;
    platform::UniqueFD m_Socket;
    platform::WorkerThread m_Worker;  // its wake-up ends the thread's waits on Stop
};

}  // namespace quillan
