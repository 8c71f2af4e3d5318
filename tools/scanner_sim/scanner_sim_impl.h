#pragma once
// The simulator's state, shared by its files: the public calls (scanner_sim.cpp),
// the server thread's connection loop, the command handling and the profile stream.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <optional>
#include <stop_token>
#include <string>
#include <string_view>
#include <vector>

#include "platform/unique_fd.h"
#include "platform/worker_thread.h"
#include "scanner_sim/command_log.h"
#include "scanner_sim/free_run.h"
#include "scanner_sim/inbound_tokenizer.h"
#include "scanner_sim/profile_log.h"
#include "scanner_sim/scanner_sim.h"

namespace scanner_sim {

using Clock = std::chrono::steady_clock;

// What was written last on the connection: a sync container is recognised only after a container.
enum class Sent { Nothing, Lin1dd, Container, Legacy, Raw };

// How one frame (or run of frames) is written.
struct WriteShape {
    const std::vector<size_t>* cuts = nullptr;  // separate writes at these offsets
    bool closeAfter = false;  // shut the connection down afterwards
    int connection = -1;  // only to this connection (-1: the current one)
};

struct ScannerSim::Impl {
    explicit Impl(Options o);

    // Connection loop (scanner_sim_connection.cpp).
    void loop(const std::stop_token& stop);
    void wake() const { worker.wakeUp().signal(); }
    // Runs fn on the server thread (or here when it is not running) and waits for it.
    void runInLoop(std::function<void()> fn);
    void runTasks();
    bool write(std::string_view bytes, Sent kind, const WriteShape& shape = {});
    std::optional<Clock::time_point> idleDue() const;
    void acceptClient();
    void armConnectionFaults();
    void goSilent();
    void relisten();
    // Closes the connection after taking in the bytes that had already arrived.
    void dropClient();
    void consume(std::string_view bytes);
    // Reads what is there; false when the connection has ended.
    bool readClient(char* buffer, size_t size);
    std::optional<Clock::time_point> nextDeadline() const;
    int pollTimeoutMs() const;
    void runTimers();

    // Command handling (scanner_sim_commands.cpp).
    void record(Token token);
    void handleCommand(const Command& command);
    void answerSync();
    void answerXml();

    // Profile stream (scanner_sim_stream.cpp).
    // The counters of the last profile sent (the start values before any).
    std::string statusContainer();
    std::shared_ptr<const ProfileSettings> currentSettings() const;
    bool streamAllowed() const;
    // Makes and writes the next `count` profiles; on the server thread or the free-run thread.
    void emitProfiles(int count);
    static bool softwareLineStart(const StatusFields& f);
    // Follows the model: camerarunning, the trigger source and the line time (server thread).
    void updateStream(bool acquisitionStart);

    bool waitFor(std::chrono::milliseconds timeout, const std::function<bool()>& done) const;

    Options options;

    // Lifecycle; public control calls hold this while they run.
    std::mutex controlMutex;
    platform::WorkerThread worker;  // the server thread; its wake-up also says tasks are queued
    bool running = false;
    std::atomic<uint16_t> boundPort{0};

    // Owned by the server thread (or by the caller while the thread is not running).
    platform::UniqueFD listenFd;
    InboundTokenizer tokenizer;
    Clock::time_point lastByte{};
    int connection = -1;

    // Work the server thread runs for control calls.
    std::mutex taskMutex;
    std::deque<std::packaged_task<void()>> tasks;

    // The one outbound writer. clientFd changes only on the server thread, under writeMutex.
    std::mutex writeMutex;
    platform::UniqueFD clientFd;
    std::atomic<bool> silent{false};
    std::atomic<bool> stopping{false};
    // Of the current connection; written under writeMutex, read by the server thread's timers.
    std::atomic<Sent> lastSent{Sent::Nothing};
    std::atomic<Clock::rep> lastWrite{0};
    std::atomic<bool> linSentHere{false};
    std::atomic<int> writerConnection{-1};  // the connection clientFd belongs to
    std::atomic<bool> connectionStart{false};  // no profile written on it yet

    // Protocol. The model is shared with callers under modelMutex.
    mutable std::mutex modelMutex;
    SettingsModel model;
    std::string linFrame;  // fixed after construction
    std::string configError;
    std::optional<Clock::time_point> linDue;  // server thread
    std::vector<std::pair<Clock::time_point, std::string>> delayedAnswers;  // server thread

    // Connection faults (server thread).
    std::optional<Clock::time_point> closeDue;
    std::optional<Clock::time_point> silentDue;
    std::optional<Clock::time_point> relistenDue;
    bool faultSilence = false;  // silent was set by a fault option
    std::unique_ptr<CommandLog> commandLog;  // made by start()

    // Profile stream. produceMutex serialises making and writing profiles (before modelMutex,
    // settingsMutex and writeMutex). freeRun exists while the server thread runs.
    mutable std::mutex produceMutex;
    ProfileProducer producer;
    mutable std::mutex settingsMutex;
    mutable std::shared_ptr<const ProfileSettings> settingsCache;
    std::unique_ptr<FreeRunClock> freeRun;
    std::unique_ptr<ProfileLog> profileLog;  // made by start(); written under produceMutex

    // Received log.
    mutable std::mutex logMutex;
    mutable std::condition_variable logChanged;
    std::vector<Command> log;
    std::vector<std::string> received;
    int accepts = 0;
    int closes = 0;
    int linSent = 0;
    uint64_t profilesSent = 0;
    bool connected = false;
};

}  // namespace scanner_sim
