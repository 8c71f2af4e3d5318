#include "server/camera.h"
#include "server/camera_guard.h"

// A constructor that throws frees the memory; the caller gets null.
extern "C" CGevCamera* createCamera()
{
    return Kivu::guarded<CGevCamera*>(__func__, nullptr, [] { return new Kivu::Camera(); });
}
