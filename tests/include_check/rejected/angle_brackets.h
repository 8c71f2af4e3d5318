#pragma once
// An internal header of the scanner client written as a system header.
#include <vector>
#include <stream/frame_ring.h>
