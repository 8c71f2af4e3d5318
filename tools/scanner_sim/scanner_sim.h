#pragma once
// A TCP server that plays the scanner for tests of the client library and the bridge.
// Every member function is thread-safe.
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "scanner_sim/profile_producer.h"
#include "scanner_sim/settings_model.h"

namespace scanner_sim {

// One command received from a client.
struct Command {
    int connection = 0;  // 0-based, in accept order
    bool binary = false;  // an 8-byte packet; otherwise text
    std::string bytes;  // exactly as received; texts keep their terminating "\r"
};

struct Options {
    uint16_t port = 0;  // 0 = any free port (see ScannerSim::Port())
    std::string bindAddress = "127.0.0.1";

    // Outbound frames are written in pieces of this many bytes with a pause in between (0 = whole).
    size_t chunkSize = 0;
    std::chrono::microseconds chunkPause{500};

    // Called on the server thread for every received command, before it is answered and logged.
    std::function<void(const Command&)> onCommand;

    // When the LIN1DD frame goes out on each connection, linDelayMs after the event.
    enum class LinSend { AfterStartPacket, OnAccept, Never };
    LinSend linSend = LinSend::AfterStartPacket;
    int linDelayMs = 0;

    // A status-only container after this many ms without output, once the LIN1DD frame went out
    // (or at once with LinSend::Never). 0 = no idle traffic.
    int idlePeriodMs = 1000;

    // Delay of the answers to "get_xmldescriptor\r" and "GetSettings=N".
    int xmlReplyDelayMs = 0;

    DeviceIdentity device;  // device.lineTime: the default acquisitionlinetime; device.geometry.cells: LIN1DD cells
    bool lin1ddBadCrc = false;  // the LIN1DD frame goes out with its last CRC byte inverted
    LinTableFault lin1ddFault = LinTableFault::None;  // a spoilt X table (length and CRC right)
    bool xmlBeforeLin1dd = false;  // a descriptor container right before each LIN1DD frame

    // Profile stream. "SetAcquisitionStart" starts it unless the line start is the software trigger
    // (triggersource 3, or -1 with triggeramountprofilesy 3), which sends one profile per
    // "SetTriggerSoftware". Profiles go out on a connection only after its LIN1DD frame (or at once
    // with LinSend::Never); while no client is connected none are made.
    std::chrono::microseconds minLinePeriod{100};  // floor of the profile period (acquisitionlinetime us)
    CounterStart counterStart;  // the first profile's picture counter, time stamp and encoders
    ProfileScale linearizedScale;  // of the linearized layout (after "SetLinearizationMode=1")
    bool swappedStrengthWidth = false;  // (inferred) the old firmware's strength/width packing, linearized layout
    // (optional) legacy profile frames of type 2 or 3 instead of containers; no idle container
    // follows a legacy frame (it would cost the client its synchronisation).
    uint8_t legacyFrameType = 0;
    bool shortGeneralBlock = false;  // profiles with a 44-byte general block (bounds-safe parsing)
    bool frameStartBurst = false;  // (inferred) triggersource -1: amountprofilesy profiles per start, then none
    StreamFaults streamFaults;
    size_t profileHistory = 100000;  // sent profiles kept for ProfileAt()

    // Connection faults, per connection from its accept (0 / "" = off). A silence set by them ends
    // with the next accept.
    int closeAfterMs = 0;  // the connection is closed this long after the accept
    int silentAfterMs = 0;  // no answers and no idle traffic from this long after the accept
    std::string closeOnCommand;  // closed once this command (exact bytes) was received and answered
    std::string silentOnCommand;  // silent once this command was received and answered
    int refuseAfterCloseMs = 0;  // after a connection ends, nothing listens for this long

    std::string logPath;  // the received commands as lines of a file (see CommandLog); "" = none
    std::string profileLogPath;  // the sent profiles as lines of a file (see ProfileLog); "" = none
};

// Faults a running test can put on the next profile (see ScannerSim::SpoilNextProfile).
enum class NextProfileFault { Gap, Repeat, Flip };

class ScannerSim {
public:
    explicit ScannerSim(Options options = {});
    ~ScannerSim();  // stops and joins
    ScannerSim(const ScannerSim&) = delete;
    ScannerSim& operator=(const ScannerSim&) = delete;

    // Binds, listens and starts the server thread; throws std::runtime_error on failure.
    // A restart listens on the port bound before.
    void Start();
    void Stop();
    uint16_t Port() const;

    // Received log. A command shows here once it has been answered and applied to the model.
    std::vector<Command> Commands() const;
    std::string ReceivedBytes(int connection) const;
    // Waits until at least minCount commands (any connection) have exactly these bytes.
    bool WaitForCommand(const std::string& bytes, std::chrono::milliseconds timeout, int minCount = 1);
    int AcceptCount() const;
    bool WaitForAccepts(int count, std::chrono::milliseconds timeout);
    int CloseCount() const;  // connections ended, by either side
    bool ClientConnected() const;
    // Waits until no client is connected (the current one, if any, has closed).
    bool WaitForClientClosed(std::chrono::milliseconds timeout);

    // Faults.
    void CloseClient();  // closes the current connection; the next client is accepted
    void SetSilent(bool silent);  // sends no answers and no idle traffic (sendRaw still sends)
    void SetRefusing(bool refusing);  // closes the listening socket; false listens again (may throw)
    bool SendRaw(const std::string& bytes);  // false when no client is connected or the write failed

    // Protocol.
    bool SendLin1dd();  // sends the LIN1DD frame now (false without a client)
    int Lin1ddSentCount() const;  // over all connections
    bool WaitForLin1ddSent(int count, std::chrono::milliseconds timeout);
    std::string ModelValue(const std::string& path) const;  // full descriptor path
    void SetModelValue(const std::string& path, const std::string& value);
    void RemoveModelKey(const std::string& path);  // the descriptor leaves it out
    std::string DescriptorXml() const;
    // Received commands that the client library must handle itself and never send.
    std::vector<Command> LibraryLocalCommands() const;

    // Profile stream. Profile numbers count from 0 over the simulator's life, across connections.
    uint64_t ProfilesSent() const;  // profile containers written (faulty ones included)
    bool WaitForProfilesSent(uint64_t count, std::chrono::milliseconds timeout);
    // A sent profile (the last profileHistory ones): its counters, settings, connection and fault.
    // profileValues(*p.settings, p.counters) gives its values, sentContainer(p, StreamFaults()) its bytes.
    std::optional<SentProfile> ProfileAt(uint64_t index) const;
    // The settings the next profile is made with, and its counters (before counter faults).
    std::shared_ptr<const ProfileSettings> NextProfileSettings() const;
    ProfileCounters NextProfileCounters() const;
    bool Streaming() const;  // the free-run stream is running
    void SetStreamFaults(StreamFaults faults);  // for profiles made from now on
    // Adds a fault for the next profile made (a gap skips gapSize counter values); returns its
    // profile number.
    uint64_t SpoilNextProfile(NextProfileFault fault, uint16_t gapSize = 1);
    StreamFaults ActiveStreamFaults() const;

private:
    struct Impl;
    std::unique_ptr<Impl> m_Impl;
};

}  // namespace scanner_sim
