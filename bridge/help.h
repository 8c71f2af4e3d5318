#pragma once
// The program's help text and the list of the host's interfaces, on the message stream.
#include <iosfwd>
#include <string>
#include <vector>

namespace lumabridge {

void PrintHelp(std::ostream& err);
// "Interface <i>  IP: <address>" for each entry, in list order.
void PrintInterfaces(const std::vector<std::string>& interfaces, std::ostream& err);

}  // namespace lumabridge
