// Self-update from an archive on the master stick.
#include "supervisor/self_update.h"
void updateDup() {}
