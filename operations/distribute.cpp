// Distribute: the master's material to every student stick.
#include "operations/distribute.h"
int master2students(int) { return -1; }
void process_del1n_tamvik(int) {}
