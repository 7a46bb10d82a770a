# System test binaries (the real daemon in the simulated appliance)
