#pragma once
// The program's own header beside the sources that include it.
#include <cstdint>
