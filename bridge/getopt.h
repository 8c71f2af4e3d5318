#pragma once
// The classic getopt, with its own state: arguments are never permuted, and its two
// complaints are written without an end of line for the caller to complete.
#include <iosfwd>

namespace lumabridge {

extern int optind;    // index of the next argument; starts at 1
extern int optopt;    // the option character examined last, as an unsigned char value
extern char* optarg;  // the argument of the last option, or null

// The next option character of argv; '?' for a character not in options or a missing
// argument (after writing argv[0] and the complaint to err); -1 when the options end.
int getopt(int argc, char* const argv[], const char* options, std::ostream& err);

// Back to the state at program start, for a second parse.
void ResetGetopt();

}  // namespace lumabridge
