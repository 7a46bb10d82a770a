// Self-update from an archive on the master stick.
#pragma once

void updateDup();
