// Quillan's connection object, by the name its own sources use.
#include "cquillan.h"
