#include "gev/server/camera.h"

extern "C" CGevCamera* createCamera()
{
    return new Kivu::Camera();
}
