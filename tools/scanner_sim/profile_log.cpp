#include "scanner_sim/profile_log.h"

#include <cstdio>

#include "scanner_sim/profile_container.h"

namespace scanner_sim {

const char* faultName(ProfileFault fault)
{
    switch (fault) {
    case ProfileFault::None: return "none";
    case ProfileFault::FlipByte: return "flip";
    case ProfileFault::ZeroBlockLength: return "zero-block";
    case ProfileFault::MissingEndBlock: return "no-end";
    case ProfileFault::LengthMismatch: return "bad-total";
    case ProfileFault::UnknownTag: return "unknown-tag";
    case ProfileFault::CloseMidFrame: return "close-mid";
    case ProfileFault::StartMidFrame: return "start-mid";
    }
    return "?";
}

ProfileLog::ProfileLog(const std::string& path) : m_File(path, "profile log") {}

std::string ProfileLog::FormatLine(const SentProfile& p)
{
    const StatusFields& f = p.settings->status;
    const ProfileCounters& c = p.counters;
    const std::vector<ExpectedPoint> points = expectedPoints(*p.settings, c);
    const char* fault = p.fault != ProfileFault::None ? faultName(p.fault)
                        : p.counterFault == CounterFault::Gap ? "gap"
                        : p.counterFault == CounterFault::Repeat ? "repeat"
                                                                  : "none";
    char head[320];
    std::snprintf(head, sizeof head,
                  "profile %llu connection %d counter %u timestamp %u encoder_htl %u encoder_ttl %u state %u io %u "
                  "temperature %u fault %s points %zu",
                  static_cast<unsigned long long>(c.index), p.connection, static_cast<unsigned>(c.pictureCounter),
                  static_cast<unsigned>(c.timeStamp), static_cast<unsigned>(c.encoderHtl),
                  static_cast<unsigned>(c.encoderTtl), f.laserActive ? 64u : 0u, f.ioState & 0x0Fu,
                  static_cast<unsigned>(f.temperature), fault, points.size());
    std::string line = head;
    line.reserve(line.size() + points.size() * 24 + 1);
    char buf[64];
    for (const ExpectedPoint& e : points) {
        std::snprintf(buf, sizeof buf, " %.9g %.9g %d", e.x, e.z, e.intensity);
        line += buf;
    }
    line += '\n';
    return line;
}

}  // namespace scanner_sim
