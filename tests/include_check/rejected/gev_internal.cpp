// Vantocam's camera behind CGevCamera, through its internal include root.
#include "server/camera.h"
