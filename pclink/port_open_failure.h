// Why a port could not be opened, told in words a user can act on.
#pragma once

#include "pclink/platform/port.h"

// The line after "port open error": why, for the port of that name.
void explain_open_failure(const char* port_name, const platform::OpenResult& result);
