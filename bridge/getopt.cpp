#include "getopt.h"

#include <cstring>
#include <ostream>

namespace lumabridge {

int optind = 1;
int optopt = 0;
char* optarg = nullptr;

namespace {

int g_Position = 1;  // the character of argv[optind] examined next

void complain(std::ostream& err, const char* program, const char* text, char c)
{
    err << program << text << c;
}

}  // namespace

int getopt(int argc, char* const argv[], const char* options, std::ostream& err)
{
    if (g_Position == 1) {
        if (optind >= argc || argv[optind][0] != '-' || argv[optind][1] == '\0')
            return -1;
        if (std::strcmp(argv[optind], "--") == 0) {
            ++optind;
            return -1;
        }
    }
    const char* arg = argv[optind];
    const char c = arg[g_Position];
    optopt = static_cast<unsigned char>(c);
    const char* spec = c == ':' ? nullptr : std::strchr(options, c);
    if (spec == nullptr) {
        complain(err, argv[0], ": illegal option -- ", c);
        if (arg[++g_Position] == '\0') {
            ++optind;
            g_Position = 1;
        }
        return '?';
    }
    if (spec[1] == ':') {
        if (arg[g_Position + 1] != '\0') {
            optarg = const_cast<char*>(&arg[g_Position + 1]);
            ++optind;
        } else if (++optind >= argc) {
            complain(err, argv[0], ": option requires an argument -- ", c);
            g_Position = 1;
            return '?';
        } else {
            optarg = argv[optind++];
        }
        g_Position = 1;
    } else {
        if (arg[++g_Position] == '\0') {
            g_Position = 1;
            ++optind;
        }
        optarg = nullptr;
    }
    return optopt;
}

void ResetGetopt()
{
    optind = 1;
    optopt = 0;
    optarg = nullptr;
    g_Position = 1;
}

}  // namespace lumabridge
