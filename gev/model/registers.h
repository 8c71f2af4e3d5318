#pragma once
// The device's register classes.
#include "model/base.h"
#include "model/callback.h"
#include "model/callback_lists.h"
#include "model/four_bytes_register.h"
#include "model/mailboxes.h"
#include "model/register.h"
#include "model/string_reg.h"
