// GVCP requests from arbitrary datagrams, through the codec and the control protocol's handlers.
#include "server/control_protocol.h"
#include "server/gvcp_wire.h"
#include "model/register_map.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>

namespace {

struct Device {
    std::shared_ptr<Kivu::RegTree> tree = std::make_shared<Kivu::RegTree>(Kivu::kRegTreeBase, Kivu::kRegTreeSize);
    Kivu::RegisterMap map{tree};
    Kivu::ControlProtocol protocol{tree};
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // Not started: the handlers run, answers go nowhere.
    static Device device;
    if (auto request = Kivu::Gvcp::ParseRequest(data, size)) {
        Kivu::Gvcp::DecodeReadReg(*request);
        Kivu::Gvcp::DecodeWriteReg(*request);
        Kivu::Gvcp::DecodeReadMem(*request);
        Kivu::Gvcp::DecodeWriteMem(*request);
        Kivu::Gvcp::DecodePacketResend(*request, false);
        Kivu::Gvcp::DecodePacketResend(*request, true);
        Kivu::Gvcp::DecodeAction(*request);
        Kivu::Gvcp::DecodeForceIp(*request);
    }
    auto datagram = std::make_unique<Kivu::Datagram>();
    datagram->address = 0x7F000001;
    datagram->port = 40000;
    datagram->length = static_cast<uint16_t>(std::min(size, sizeof(datagram->data)));
    std::memcpy(datagram->data, data, datagram->length);
    device.protocol.Dispatch(*datagram);
    return 0;
}
