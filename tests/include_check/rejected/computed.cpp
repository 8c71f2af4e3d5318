// An include the check cannot read.
#define LB_HEADER "src/tcp_client.h"
#include LB_HEADER
