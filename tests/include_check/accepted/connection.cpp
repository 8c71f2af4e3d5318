// What a source of the program may include: its own headers, the libraries' public headers,
// the platform layer and system headers.
#include "connection.h"

#include "find_xml_text.h"
#include "gev_camera.h"
#include "platform/clock.h"
#include "quillan.h"

#include <platform/unique_fd.h>
#include <sys/socket.h>
#include <tinyxml2.h>

#include <string>
