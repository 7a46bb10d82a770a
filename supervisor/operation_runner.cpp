// The operation process: watches the command files and runs the jobs, one at a
// time, in the order 1, 2, 3, 5, 6, 7. Between jobs it keeps the status words
// showing which sticks are present, unless a job's result is on display.
#include "supervisor/operation_runner.h"

#include <unistd.h>

#include "indicators/function_leds.h"
#include "indicators/status_codes.h"
#include "operations/job_requests.h"
#include "supervisor/base/file_helpers.h"
#include "supervisor/base/folder_watch.h"
#include "supervisor/process_frame.h"
#include "supervisor/base/shell_runner.h"

namespace {

constexpr const char* kResultDisplay = "/tmp/showresult.cmd";
constexpr const char* kDropCancel = "rm /tmp/bt4.cmd";
constexpr useconds_t kPoll = 1000;   // 1 ms between cycles
constexpr int kLookAfresh = 1000;    // ms: the watches' safety net
constexpr unsigned kSettle = 1;      // 1 s between the busy pattern and the job

void runJob(const JobFile& request) {
    showBusyPattern();
    checkLedStatus();   // clears the last job's result codes
    sleep(kSettle);
    (void)to_system(kDropCancel);    // absent is fine: a stale request is all we drop
    (void)request.job(request.fn);   // results show only in the status words
    // The job may have removed its file already; a failing rm is harmless.
    (void)to_system(request.removeCommand);
    showReadyPattern();
}

// Runs the jobs asked for, in order; false when none was.
bool runRequestedJobs() {
    bool ran = false;
    for (const JobFile& request : kJobs) {
        if (fileexist(request.path) != 0) continue;
        runJob(request);
        ran = true;
    }
    return ran;
}

}   // namespace

// The files and nodes are tested again only when an entry of /tmp or /dev came or
// went. Nothing else gives this loop work, so while both folders can be watched it
// sleeps until one of them moves: a request is taken as soon as its file appears.
// Once a second it looks at everything afresh all the same. While a result is on
// display the nodes wait: their moves are taken after the dismissal.
void listenchild() {
    attachSegment();
    FolderWatch requests("/tmp"), nodes("/dev");
    bool resultShown = false;
    for (;;) {
        const bool requestsMoved = requests.changed();
        if (requestsMoved) resultShown = fileexist(kResultDisplay) == 0;
        if (!resultShown) checkLedStatus(nodes.changed());
        if (requestsMoved && runRequestedJobs()) {
            // A job changes the partition choice and the files behind our back.
            requests.forget();
            nodes.forget();
        }
        if (!requests.watching() || !nodes.watching()) {
            usleep(kPoll);
        } else if (!waitForMoves(&requests, resultShown ? nullptr : &nodes, kLookAfresh)) {
            requests.forget();
            nodes.forget();
        }
    }
}
