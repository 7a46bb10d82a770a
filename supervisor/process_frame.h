// Start-up of the daemon: console log, mount points, segment, the three processes.
#pragma once

void init();
// Attaches the shared status segment in the calling process (first step of every
// long-lived loop). On failure it reports "shmat" and goes on with private words
// in its place: ptr_mem_partagee is never null afterwards, the process's status
// writes simply reach nobody else.
void attachSegment();
