#include "server/gvcp_endpoint.h"

namespace Kivu {

bool GvcpEndpoint::Open(const EndpointConfig& config)
{
    if (IsOpen())
        return false;
    if (!m_Wake.isValid())
        return false;
    m_Unicast.SetBindRetry(config.retry);
    if (!m_Unicast.Open(config.address, config.port))
        return false;
    m_Wake.clear();
    m_ShutDown.store(false);
    m_InterfaceIndex = config.interfaceIndex;

    if (config.broadcastListeners) {
        const uint16_t port = m_Unicast.GetLocalPort();
        const uint32_t subnet = config.address | ~config.mask;
        const BindRetry once{1, {}};
        m_Listeners[0].SetBindRetry(once);
        m_Listeners[0].OpenListener(0xFFFFFFFFu, port);
        if (config.mask != 0 && config.mask != 0xFFFFFFFFu && subnet != 0xFFFFFFFFu) {
            m_Listeners[1].SetBindRetry(once);
            m_Listeners[1].OpenListener(subnet, port);
        }
    }
    return true;
}

size_t GvcpEndpoint::ListenerCount() const
{
    size_t n = 0;
    for (const auto& l : m_Listeners)
        n += l.IsOpen() ? 1 : 0;
    return n;
}

bool GvcpEndpoint::Receive(Datagram& datagram)
{
    if (!IsOpen())
        return false;
    DatagramSocket* sockets[1 + kListeners] = {&m_Unicast, &m_Listeners[0], &m_Listeners[1]};
    for (;;) {
        if (m_ShutDown.load())
            return false;
        pollfd fds[1 + kListeners];
        DatagramSocket* owners[1 + kListeners];
        size_t n = 0;
        for (DatagramSocket* s : sockets) {
            if (s->IsOpen()) {
                owners[n] = s;
                fds[n++] = {s->Descriptor(), POLLIN, 0};
            }
        }
        if (m_Wake.wait(std::span(fds, n), -1) != platform::PollResult::Ready || m_ShutDown.load())
            return false;
        // Serve ready sockets in turn so that a flood on one cannot starve another.
        for (size_t k = 0; k < n; ++k) {
            const size_t i = (m_Next + k) % n;
            if (fds[i].revents == 0)
                continue;
            ReceiveInfo info;
            if (!owners[i]->TryRecvFrom(datagram, &info))
                continue;
            m_Next = (i + 1) % n;
            const bool listener = owners[i] != &m_Unicast;
            if (listener && m_InterfaceIndex != 0 && info.interfaceIndex != m_InterfaceIndex)
                continue;
            if (info.truncated)
                continue;  // cannot be a GVCP command
            return true;
        }
    }
}

void GvcpEndpoint::Shutdown()
{
    m_ShutDown.store(true);
    m_Wake.signal();
}

void GvcpEndpoint::Close()
{
    m_Unicast.Close();
    for (auto& l : m_Listeners)
        l.Close();
}

}  // namespace Kivu
