#pragma once
// Writes UDP datagrams into a pcap file (Ethernet, IPv4 127.0.0.1 -> 127.0.0.2), and has tshark dissect them.
#include <cstdint>
#include <string>
#include <vector>

namespace gvsp_test {

bool WritePcap(const std::string& path, const std::vector<std::vector<uint8_t>>& datagrams, uint16_t port);

// tshark's verbose dissection (GVSP on port, no heuristics) of the datagrams,
// through a temporary capture file; a line saying why when it cannot run.
std::string TsharkGvsp(const std::vector<std::vector<uint8_t>>& datagrams, uint16_t port);

}  // namespace gvsp_test
