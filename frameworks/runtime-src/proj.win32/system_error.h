// The system's errors, as the host reports them.
#pragma once

#include "host_services.h"

// The reason the last call failed; never 0, so that a failure cannot read as
// success even when Windows gives no reason.
SystemError LastErrorOrFailure();
