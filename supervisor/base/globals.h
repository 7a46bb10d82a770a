// Program-wide globals of the daemon. After the forks every process has its own
// copy of each; only the shared status segment is shared between processes.
#pragma once
#include <cstdint>

constexpr int kSlots = 17;         // slot 0 is the master, 1..16 the students
constexpr int kShmKey = 123654;    // the shared status segment
constexpr int kShmSize = 436;      // 109 words of 32 bits
constexpr int kShmFlags = 01666;   // create if missing, read/write for everyone
constexpr int kNbKey = 17;         // word 17: watchdog countdown of the worker
constexpr int kResultWord = 18;    // word 18: result of the running worker

extern int processId;   // 0 button, 1 operation, 2 LED, 3 worker
extern int mem_ID;
extern int32_t* ptr_mem_partagee;
extern int fderr;
extern int sticks[kSlots];
extern int sticksPartition[kSlots];
extern int sticksN[kSlots][3];
extern int fileCntG;
extern int stickLedTmp[kSlots];
extern int stickLed[kSlots];
extern int blkFlg;
