// The request files of the six jobs. A cancel and the dismissal of a result both
// drop whatever was still asked for.
#include "operations/job_requests.h"

#include "indicators/function_leds.h"
#include "operations/clear.h"
#include "operations/collect.h"
#include "operations/distribute.h"
#include "supervisor/base/file_helpers.h"
#include "supervisor/base/shell_runner.h"

const JobFile kJobs[kJobCount] = {
    {"/tmp/bt1.cmd", "rm /tmp/bt1.cmd", master2students, 0},
    {"/tmp/bt2.cmd", "rm /tmp/bt2.cmd", students2master, 0},
    {"/tmp/bt3.cmd", "rm /tmp/bt3.cmd", deleteStudents, 0},
    {"/tmp/bt5.cmd", "rm /tmp/bt5.cmd", master2students, 1},
    {"/tmp/bt6.cmd", "rm /tmp/bt6.cmd", students2master, 1},
    {"/tmp/bt7.cmd", "rm /tmp/bt7.cmd", deleteStudents, 1},
};

int resetDuplicator() {
    dropOtherRequests(nullptr, 0);
    showReadyPattern();
    return 0;
}

void dropOtherRequests(int (*running)(int fn), int fn) {
    for (const JobFile& request : kJobs) {
        const bool own = request.job == running && request.fn == fn;
        if (!own && fileexist(request.path) == 0) (void)to_system(request.removeCommand);
    }
}
