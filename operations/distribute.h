// Distribute: the master's material to every student stick.
#pragma once

int master2students(int fn);
// 0 when the stick was cleared, -1 when it was not.
int process_del1n_tamvik(int slot);
