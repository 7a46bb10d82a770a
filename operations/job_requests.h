// The request files through which the button process asks the operation process for
// a job, in the order they are served (1, 2, 3, 5, 6, 7), and the reset that drops
// every pending request.
#pragma once

struct JobFile {
    const char* path;
    const char* removeCommand;
    int (*job)(int fn);
    int fn;   // 0 folder mode, 1 whole-stick mode
};

constexpr int kJobCount = 6;
extern const JobFile kJobs[kJobCount];

// Removes every pending request file and shows the ready pattern.
int resetDuplicator();
// Removes every request file but the running job's own (its job and mode): that one
// goes when the job has finished with the master, and the result shows only then.
void dropOtherRequests(int (*running)(int fn), int fn);
