// Test support for the simulated appliance (see appliance.h).
#include "tests/support/appliance.h"
