// A header of the device library by its path in the repository.
#include "gev/server/gvcp_endpoint.h"
