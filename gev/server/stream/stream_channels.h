#pragma once
// The device's stream channels: one StreamProtocol each, their register blocks
// (Bootstrap::StreamChannel), set-up and stop of all channels, and the acquisition commands.
#include "gev_camera.h"

#include "model/base.h"
#include "model/four_bytes_register.h"
#include "model/reg_tree.h"
#include "server/stream/stream_protocol.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

namespace Kivu {

constexpr uint32_t kMaxStreamChannels = 512;

// Feature registers the channels use; any may be empty. The last three are
// 4-byte number registers, signed or unsigned.
struct AcquisitionRegisters {
    std::shared_ptr<UIntReg> start;                 // regAcquisitionStart (command)
    std::shared_ptr<UIntReg> stop;                  // regAcquisitionStop (command)
    std::shared_ptr<Register> sourceSelector;       // regSourceSelector
    std::shared_ptr<Register> isMultistreaming;     // regIsMultistreaming
    std::shared_ptr<Register> sourceStreamChannel;  // regSourceStreamChannel
};

class StreamChannels : public Base {
public:
    // One channel; the register blocks and 0x0904 follow that count.
    explicit StreamChannels(std::shared_ptr<RegTree> tree);
    ~StreamChannels() override;
    StreamChannels(const StreamChannels&) = delete;
    StreamChannels& operator=(const StreamChannels&) = delete;

    // Subscribes the command callbacks on the feature registers, and the
    // SourceStreamChannel hooks: a write assigns the selected source to the
    // written channel (refused for a channel that does not exist), a read
    // shows the selected source's channel.
    void AttachAcquisitionRegisters(const AcquisitionRegisters& regs);

    // SCPS of every channel = (old & 0xE0000000) | mtu (clamped to 16 bits), through its validator.
    void Setup(uint32_t mtu);
    // Sets the running flag and starts each channel; false (all stopped) when one fails.
    bool StartAll(uint32_t gevMode);
    void StopAll();
    // Refused (Running) while running, 1..512 else InvalidArgument.
    uint32_t SetCount(uint32_t n);
    void RebuildChannelRegisters(uint32_t n);

    uint32_t Count() const { return static_cast<uint32_t>(m_Channels.size()); }
    StreamProtocol& Channel(uint32_t n) { return *m_Channels.at(n); }
    StreamSources& Sources() { return *m_Sources; }
    bool IsRunning() const { return m_Running.load(); }

    bool OnAcquisitionStartCommand(UIntReg* reg);
    bool OnAcquisitionStopCommand(UIntReg* reg);

private:
    void detach();
    bool command(const std::shared_ptr<UIntReg>& target);
    template <class R>
    void hookSourceChannel(Register* reg, bool subscribe);
    template <class R>
    bool onSourceChannelWrite(R* reg);
    template <class R>
    bool onSourceChannelRead(R* reg);

    const std::shared_ptr<RegTree> m_Tree;
    const std::shared_ptr<StreamSources> m_Sources = std::make_shared<StreamSources>();
    std::vector<std::unique_ptr<StreamProtocol>> m_Channels;
    std::shared_ptr<UIntReg> m_AcqStart, m_AcqStop, m_ChannelCount;
    AcquisitionRegisters m_Features;
    std::atomic<uint32_t> m_Reentry{0};
    std::atomic<bool> m_Running{false};
};

}  // namespace Kivu
