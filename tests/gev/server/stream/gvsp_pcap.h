#pragma once
// Writes UDP datagrams into a pcap file (Ethernet, IPv4 127.0.0.1 -> 127.0.0.2), and has tshark dissect them.
#include <cstdint>
#include <string>
#include <vector>

namespace gvsp_test {

bool WritePcap(const std::string& path, const std::vector<std::vector<uint8_t>>& datagrams, uint16_t port);

// What is wrong with tshark's dissection of the datagrams as GVSP on port (no
// heuristics; through a temporary capture file): a malformed packet, an error,
// not every datagram dissected as GVSP, or tshark not run; empty when clean.
std::string GvspDissectionFault(const std::vector<std::vector<uint8_t>>& datagrams, uint16_t port);

}  // namespace gvsp_test
