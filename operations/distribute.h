// Distribute: the master's material to every student stick.
#pragma once

int master2students(int fn);
void process_del1n_tamvik(int slot);
