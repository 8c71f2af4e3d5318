#pragma once
// The sent profiles as lines of a file a test can follow: what each profile carries, as the
// simulator made it from its analytic model.
//   profile <n> connection <c> counter <pc> timestamp <ts> encoder_htl <e> encoder_ttl <e>
//   state <s> io <io> temperature <t> fault <name> points <k> <x> <z> <i> ...
// n counts profiles from 0; the points are expectedPoints() (millimetres, %.9g; intensity as an
// integer); fault is "none" or the profile's fault ("flip", "gap" and "repeat" included). Each
// line is one write.
#include <string>

#include "scanner_sim/line_file.h"
#include "scanner_sim/profile_producer.h"

namespace scanner_sim {

class ProfileLog {
public:
    // Creates or truncates the file; throws std::runtime_error.
    explicit ProfileLog(const std::string& path);

    void Write(const SentProfile& profile) { m_File.Write(FormatLine(profile)); }

    static std::string FormatLine(const SentProfile& profile);

private:
    LineFile m_File;
};

const char* faultName(ProfileFault fault);

}  // namespace scanner_sim
