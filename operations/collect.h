// Collect: every student's work into a new session folder on the master.
#pragma once

int students2master(int fn);
