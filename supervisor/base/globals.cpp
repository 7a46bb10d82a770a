// Definitions of the program-wide globals (see globals.h).
#include "supervisor/base/globals.h"

int processId = 0;
int mem_ID = -1;
int32_t* ptr_mem_partagee = nullptr;
int fderr = -1;
int sticks[kSlots] = {};
int sticksPartition[kSlots] = {};
int sticksN[kSlots][3] = {};
int fileCntG = 0;
int stickLedTmp[kSlots] = {};
int stickLed[kSlots] = {};
int blkFlg = 0;
