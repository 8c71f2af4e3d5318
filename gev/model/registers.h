#pragma once
// The device's register classes.
#include "gev/model/base.h"
#include "gev/model/callback.h"
#include "gev/model/callback_lists.h"
#include "gev/model/four_bytes_register.h"
#include "gev/model/mailboxes.h"
#include "gev/model/register.h"
#include "gev/model/string_reg.h"
