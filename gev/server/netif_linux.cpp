#include "server/netif_linux.h"

#include "platform/unique_fd.h"

#include <linux/ethtool.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <linux/sockios.h>
#include <net/if.h>
#include <net/if_arp.h>
#include <netinet/in.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <functional>
#include <map>
#include <optional>
#include <vector>

namespace Kivu {
namespace {

// NLMSG_OK without its signed/unsigned comparison.
bool messageFits(const nlmsghdr* h, int left)
{
    return left >= static_cast<int>(sizeof(nlmsghdr)) && h->nlmsg_len >= sizeof(nlmsghdr) &&
           h->nlmsg_len <= static_cast<unsigned>(left);
}


constexpr unsigned long kWirelessNameRequest = 0x8B01;  // SIOCGIWNAME; succeeds on wireless devices only

// A route netlink socket for one request at a time.
class RouteSocket {
public:
    RouteSocket() : m_Fd(::socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_ROUTE))
    {
        sockaddr_nl local{};
        local.nl_family = AF_NETLINK;
        if (m_Fd.isValid() && ::bind(m_Fd.get(), reinterpret_cast<sockaddr*>(&local), sizeof local) != 0)
            m_Fd.reset();
    }
    bool IsOpen() const { return m_Fd.isValid(); }

    // Sends a request with NLM_F_ACK and returns the kernel's answer: 0 or -errno.
    int Execute(nlmsghdr* request)
    {
        request->nlmsg_flags |= NLM_F_ACK;
        int result = -EIO;
        if (!send(request))
            return -errno;
        receive(request->nlmsg_seq, [&](const nlmsghdr* h) {
            if (h->nlmsg_type == NLMSG_ERROR && h->nlmsg_len >= NLMSG_LENGTH(sizeof(nlmsgerr)))
                result = static_cast<const nlmsgerr*>(NLMSG_DATA(h))->error;
            return h->nlmsg_type != NLMSG_ERROR;
        });
        return result;
    }

    // Sends a dump request and hands every answer message to each; false on error.
    bool Dump(nlmsghdr* request, const std::function<void(const nlmsghdr*)>& each)
    {
        request->nlmsg_flags |= NLM_F_DUMP;
        if (!send(request))
            return false;
        bool ok = true;
        receive(request->nlmsg_seq, [&](const nlmsghdr* h) {
            if (h->nlmsg_type == NLMSG_DONE)
                return false;
            if (h->nlmsg_type == NLMSG_ERROR) {
                ok = false;
                return false;
            }
            each(h);
            return true;
        });
        return ok;
    }

private:
    bool send(nlmsghdr* request)
    {
        if (!m_Fd.isValid()) {
            errno = EBADF;
            return false;
        }
        request->nlmsg_flags |= NLM_F_REQUEST;
        request->nlmsg_seq = ++m_Seq;
        sockaddr_nl kernel{};
        kernel.nl_family = AF_NETLINK;
        const ssize_t n = ::sendto(m_Fd.get(), request, request->nlmsg_len, 0,
                                   reinterpret_cast<sockaddr*>(&kernel), sizeof kernel);
        return n == static_cast<ssize_t>(request->nlmsg_len);
    }

    // Reads answers to seq until handle returns false or the socket fails.
    void receive(uint32_t seq, const std::function<bool(const nlmsghdr*)>& handle)
    {
        for (;;) {
            const ssize_t n = ::recv(m_Fd.get(), m_Buffer.data(), m_Buffer.size(), 0);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                return;
            int left = static_cast<int>(n);
            for (auto* h = reinterpret_cast<const nlmsghdr*>(m_Buffer.data()); messageFits(h, left); h = NLMSG_NEXT(h, left)) {
                if (h->nlmsg_seq != seq)
                    continue;
                if (!handle(h))
                    return;
            }
        }
    }

    platform::UniqueFD m_Fd;
    uint32_t m_Seq = 0;
    std::vector<char> m_Buffer = std::vector<char>(32768);  // malloc alignment suits nlmsghdr
};

// An address request: header, ifaddrmsg and room for a few attributes.
struct AddressRequest {
    nlmsghdr header;
    ifaddrmsg message;
    alignas(NLMSG_ALIGNTO) char attributes[64];

    AddressRequest(uint16_t type, uint16_t flags)
    {
        std::memset(this, 0, sizeof *this);
        header.nlmsg_len = NLMSG_LENGTH(sizeof(ifaddrmsg));
        header.nlmsg_type = type;
        header.nlmsg_flags = flags;
        message.ifa_family = AF_INET;
    }
    void AddIpv4(uint16_t type, uint32_t hostOrder)
    {
        const uint32_t wire = htonl(hostOrder);
        auto* attr = reinterpret_cast<rtattr*>(reinterpret_cast<char*>(this) + NLMSG_ALIGN(header.nlmsg_len));
        attr->rta_type = type;
        attr->rta_len = RTA_LENGTH(sizeof wire);
        std::memcpy(RTA_DATA(attr), &wire, sizeof wire);
        header.nlmsg_len = NLMSG_ALIGN(header.nlmsg_len) + RTA_ALIGN(attr->rta_len);
    }
};
static_assert(offsetof(AddressRequest, message) == NLMSG_HDRLEN);

struct AddressRow {
    uint32_t ifIndex = 0;
    uint32_t ip = 0;  // host order
    uint32_t mask = 0;
    bool secondary = false;
};

std::vector<AddressRow> dumpAddresses()
{
    std::vector<AddressRow> rows;
    RouteSocket route;
    AddressRequest request(RTM_GETADDR, 0);
    route.Dump(&request.header, [&](const nlmsghdr* h) {
        if (h->nlmsg_type != RTM_NEWADDR || h->nlmsg_len < NLMSG_LENGTH(sizeof(ifaddrmsg)))
            return;
        const auto* a = static_cast<const ifaddrmsg*>(NLMSG_DATA(h));
        if (a->ifa_family != AF_INET || a->ifa_prefixlen > 32)
            return;
        AddressRow row;
        row.ifIndex = a->ifa_index;
        row.mask = a->ifa_prefixlen == 0 ? 0 : ~uint32_t{0} << (32 - a->ifa_prefixlen);
        uint32_t flags = a->ifa_flags;
        uint32_t local = 0, address = 0;
        int left = static_cast<int>(IFA_PAYLOAD(h));
        for (auto* attr = IFA_RTA(a); RTA_OK(attr, left); attr = RTA_NEXT(attr, left)) {
            const size_t size = RTA_PAYLOAD(attr);
            if (attr->rta_type == IFA_LOCAL && size >= 4)
                std::memcpy(&local, RTA_DATA(attr), 4);
            else if (attr->rta_type == IFA_ADDRESS && size >= 4)
                std::memcpy(&address, RTA_DATA(attr), 4);
            else if (attr->rta_type == IFA_FLAGS && size >= 4)
                std::memcpy(&flags, RTA_DATA(attr), 4);
        }
        row.ip = ntohl(local != 0 ? local : address);
        row.secondary = (flags & IFA_F_SECONDARY) != 0;
        if (row.ip != 0)
            rows.push_back(row);
    });
    return rows;
}

void setName(ifreq& ifr, const char* name)
{
    std::snprintf(ifr.ifr_name, sizeof ifr.ifr_name, "%s", name);
}

// Link speed in Mbit/s from ethtool; 0 when unknown or unsupported.
uint32_t linkSpeedMbps(int fd, const char* name)
{
    ifreq ifr{};
    setName(ifr, name);

    // ETHTOOL_GLINKSETTINGS: the first call tells the size of the mode masks.
    alignas(ethtool_link_settings) char buffer[sizeof(ethtool_link_settings) + 3 * 4 * 128] = {};
    auto* settings = reinterpret_cast<ethtool_link_settings*>(buffer);
    settings->cmd = ETHTOOL_GLINKSETTINGS;
    ifr.ifr_data = buffer;
    if (::ioctl(fd, SIOCETHTOOL, &ifr) == 0 && settings->link_mode_masks_nwords < 0 &&
        -settings->link_mode_masks_nwords <= 128) {
        const int8_t words = static_cast<int8_t>(-settings->link_mode_masks_nwords);
        std::memset(buffer, 0, sizeof buffer);
        settings->cmd = ETHTOOL_GLINKSETTINGS;
        settings->link_mode_masks_nwords = words;
        if (::ioctl(fd, SIOCETHTOOL, &ifr) == 0)
            return settings->speed == static_cast<uint32_t>(SPEED_UNKNOWN) ? 0 : settings->speed;
    }

    ethtool_cmd legacy{};
    legacy.cmd = ETHTOOL_GSET;
    ifr.ifr_data = reinterpret_cast<char*>(&legacy);
    if (::ioctl(fd, SIOCETHTOOL, &ifr) != 0)
        return 0;
    const uint32_t speed = ethtool_cmd_speed(&legacy);
    return speed == static_cast<uint32_t>(SPEED_UNKNOWN) ? 0 : speed;
}

// Type, MTU, speed and hardware address of one interface; false when it is gone.
bool readLink(int fd, uint32_t ifIndex, AdapterRecord& record)
{
    char name[IF_NAMESIZE] = {};
    if (::if_indextoname(ifIndex, name) == nullptr)
        return false;
    ifreq ifr{};
    setName(ifr, name);
    if (::ioctl(fd, SIOCGIFMTU, &ifr) != 0)
        return false;
    record.mtu = static_cast<uint32_t>(ifr.ifr_mtu);

    std::memset(&ifr, 0, sizeof ifr);
    setName(ifr, name);
    if (::ioctl(fd, SIOCGIFHWADDR, &ifr) != 0)
        return false;
    switch (ifr.ifr_hwaddr.sa_family) {
    case ARPHRD_ETHER: {
        ifreq wireless{};
        setName(wireless, name);
        record.ifType = ::ioctl(fd, kWirelessNameRequest, &wireless) == 0 ? IfType::Wireless : IfType::Ethernet;
        std::memcpy(record.phys, ifr.ifr_hwaddr.sa_data, 6);
        break;
    }
    case ARPHRD_LOOPBACK:
        record.ifType = IfType::Loopback;
        break;
    case ARPHRD_NONE:
    case ARPHRD_TUNNEL:
    case ARPHRD_TUNNEL6:
    case ARPHRD_SIT:
    case ARPHRD_IPGRE:
        record.ifType = IfType::Tunnel;
        break;
    default:
        record.ifType = IfType::Other;
        break;
    }
    record.speedMbps = linkSpeedMbps(fd, name);
    const uint64_t bps = uint64_t{record.speedMbps} * 1000000u;
    record.speedBps = bps > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<uint32_t>(bps);
    return true;
}

}  // namespace

int PrefixLength(uint32_t mask)
{
    const uint32_t inverted = ~mask;
    if ((inverted & (inverted + 1)) != 0)
        return -1;  // ones after a zero
    return std::popcount(mask);
}

std::vector<AdapterRecord> LinuxNetPlatform::ListAdapters()
{
    std::vector<AddressRow> rows = dumpAddresses();
    // Interfaces in the order the kernel listed them; primaries before secondaries.
    std::map<uint32_t, size_t> firstSeen;
    for (const AddressRow& row : rows)
        firstSeen.emplace(row.ifIndex, firstSeen.size());
    std::stable_sort(rows.begin(), rows.end(), [&](const AddressRow& a, const AddressRow& b) {
        const size_t ia = firstSeen[a.ifIndex], ib = firstSeen[b.ifIndex];
        return ia != ib ? ia < ib : (!a.secondary && b.secondary);
    });

    std::vector<AdapterRecord> adapters;
    platform::UniqueFD fd(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    if (!fd.isValid())
        return adapters;
    std::map<uint32_t, std::optional<AdapterRecord>> links;
    for (const AddressRow& row : rows) {
        auto [it, fresh] = links.try_emplace(row.ifIndex);
        if (fresh) {
            AdapterRecord link;
            if (readLink(fd.get(), row.ifIndex, link))
                it->second = link;
        }
        if (!it->second)
            continue;
        AdapterRecord record = *it->second;
        record.ifIndex = row.ifIndex;
        record.ipv4Sys = row.ip;
        record.maskSys = row.mask;
        adapters.push_back(record);
    }
    return adapters;
}

AddResult LinuxNetPlatform::AddAddress(uint32_t ipSys, uint32_t maskSys, int ifIndex, AddedAddress* out, int* err)
{
    int ignored = 0;
    int& error = err != nullptr ? *err : ignored;
    const int prefix = PrefixLength(maskSys);
    if (prefix < 0 || ifIndex <= 0 || ipSys == 0) {
        error = EINVAL;
        return AddResult::Failed;
    }
    RouteSocket route;
    if (!route.IsOpen()) {
        error = errno;
        return AddResult::Failed;
    }
    AddressRequest request(RTM_NEWADDR, NLM_F_CREATE | NLM_F_EXCL);
    request.message.ifa_prefixlen = static_cast<uint8_t>(prefix);
    request.message.ifa_scope = RT_SCOPE_UNIVERSE;
    request.message.ifa_index = static_cast<uint32_t>(ifIndex);
    request.AddIpv4(IFA_LOCAL, ipSys);
    request.AddIpv4(IFA_ADDRESS, ipSys);
    if (prefix < 31)
        request.AddIpv4(IFA_BROADCAST, ipSys | ~maskSys);
    const int result = route.Execute(&request.header);
    error = -result;
    if (result == -EEXIST)
        return AddResult::AlreadyExists;
    if (result != 0)
        return AddResult::Failed;
    if (out != nullptr)
        *out = AddedAddress{ifIndex, ipSys, static_cast<uint8_t>(prefix)};
    return AddResult::Added;
}

bool LinuxNetPlatform::DeleteAddress(AddedAddress& address)
{
    if (!address.valid())
        return false;
    RouteSocket route;
    AddressRequest request(RTM_DELADDR, 0);
    request.message.ifa_prefixlen = address.prefixLen;
    request.message.ifa_index = static_cast<uint32_t>(address.ifIndex);
    request.AddIpv4(IFA_LOCAL, address.ipv4Sys);
    request.AddIpv4(IFA_ADDRESS, address.ipv4Sys);
    const int result = route.Execute(&request.header);
    address = AddedAddress{};
    return result == 0 || result == -EADDRNOTAVAIL;
}

}  // namespace Kivu
