// A header outside the program's directory, reached through "..".
#include "../accepted/connection.h"
