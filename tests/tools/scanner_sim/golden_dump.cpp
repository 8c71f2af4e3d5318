// Prints the C++ encoders' golden vectors as "name hex" lines for golden_vectors.py --check.
#include <cstdio>

#include "golden_cases.h"

int main()
{
    for (const auto& [name, bytes] : scanner_sim::test::goldenVectors())
        std::printf("%s %s\n", name.c_str(), scanner_sim::test::toHex(bytes).c_str());
    return 0;
}
