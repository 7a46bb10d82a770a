// The button process (processId 0): polls the four buttons, turns presses into the
// command files of the operation process, blinks the running job's LED, turns a
// shift press during a job into a cancel request, dismisses the result display,
// starts the self-update and shuts the appliance down on a long shift press.
#include "supervisor/button_panel.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "indicators/function_leds.h"
#include "operations/job_requests.h"
#include "supervisor/base/file_helpers.h"
#include "supervisor/base/folder_watch.h"
#include "supervisor/base/globals.h"
#include "supervisor/process_frame.h"
#include "supervisor/self_update.h"
#include "supervisor/base/shell_runner.h"

namespace {

// A button line. The lines are active low: a first character "0" means pressed.
struct ButtonLine {
    const char* valueFile;
    const char* message;   // printed when the value file cannot be opened
    bool errorPattern;     // whether the error pattern is shown before exit
};
enum Button { kShift, kDistribute, kCollect, kClear };
// The shift button's failure leaves the LEDs as they are; the others show the error.
constexpr ButtonLine kLines[] = {
    {"/sys/class/gpio/gpio3/value", "Cannot open value file gpio3.", false},
    {"/sys/class/gpio/gpio6/value", "Cannot open value file gpio6.", true},
    {"/sys/class/gpio/gpio1/value", "Cannot open value file gpio1.", true},
    {"/sys/class/gpio/gpio0/value", "Cannot open value file gpio0.", true},
};
int gValueFd[] = {-1, -1, -1, -1};   // opened at the first read, then kept

constexpr int kJobs[] = {1, 2, 3, 5, 6, 7};
constexpr const char* kCancelFile = "/tmp/bt4.cmd";
constexpr const char* kResultDisplay = "/tmp/showresult.cmd";

constexpr useconds_t kIdleMicros = 1000;
constexpr useconds_t kBusyMicros = 100000;
constexpr unsigned kPauseSeconds = 2;   // after a request: the job is running by then
constexpr int kBlinkEvery = 5;          // busy cycles per toggle of the job's LED
constexpr int kShutdownCycles = 1000;   // idle cycles with shift held
constexpr int kHoldReads = 5;           // clear gesture: about one second held
constexpr useconds_t kHoldMicros = 200000;
constexpr int kConfirmReads = 30;   // then about three seconds to press again
constexpr useconds_t kConfirmMicros = 100000;

// The daemon's two other processes. Without the operation process a request would
// wait for ever; without the LED process no stick and no result would show. Either
// gone, this process ends the rest of the family, so that whatever started the
// daemon starts it again whole instead of leaving it looking ready while half dead.
struct Member {
    pid_t pid;
    const char* name;
};
Member gFamily[] = {{0, "operation"}, {0, "LED"}};
constexpr int kFamilyCheckCycles = 100;   // idle cycles between two looks

void endIfFamilyBroken() {
    for (const Member& member : gFamily) {
        // A child that ended is reaped at once (no zombie), so its pid answers no more.
        if (member.pid <= 0 || kill(member.pid, 0) == 0) continue;
        printf("the %s process ended; the daemon ends to start again whole\n", member.name);
        for (const Member& other : gFamily)
            if (other.pid > 0 && other.pid != member.pid) (void)kill(other.pid, SIGKILL);
        showErrorPattern();
        exit(1);
    }
}

[[noreturn]] void lostValueFile(Button button) {
    printf("%s\n", kLines[button].message);
    if (kLines[button].errorPattern) showErrorPattern();
    exit(1);
}

// A read from the start of a sysfs value file shows the line's level at that
// moment, so the file stays open and is read with pread: no open and close in
// every 1 ms cycle. A failed read (the line was unexported) opens it again, and
// only an open that fails ends the process, as before.
bool pressed_or_exit(Button button) {
    int& fd = gValueFd[button];
    char value[4] = {};
    ssize_t count = fd >= 0 ? pread(fd, value, sizeof value, 0) : -1;
    if (count < 0) {
        if (fd >= 0) (void)close(fd);
        fd = open(kLines[button].valueFile, O_RDONLY | O_CLOEXEC);
        if (fd < 0) lostValueFile(button);
        count = pread(fd, value, sizeof value, 0);
    }
    return count > 0 && value[0] == '0';
}

// Named once: the busy cycle looks at every job file each time round.
const char* jobFile(int job) {
    static const char* const kFiles[] = {"", "/tmp/bt1.cmd", "/tmp/bt2.cmd", "/tmp/bt3.cmd",
                                         "", "/tmp/bt5.cmd", "/tmp/bt6.cmd", "/tmp/bt7.cmd"};
    return kFiles[job];
}
std::string resultMarker(int job) { return "/tmp/showresult" + std::to_string(job) + ".cmd"; }

bool segmentAttached() {
    return ptr_mem_partagee != nullptr && ptr_mem_partagee != reinterpret_cast<int32_t*>(-1);
}

// One aligned 32-bit load; without the segment no stick counts as present, so no
// job can be asked for on codes nobody wrote.
int statusWord(int slot) {
    if (!segmentAttached()) return 0;
    return static_cast<volatile int32_t*>(ptr_mem_partagee)[slot];
}

bool masterPresent() { return statusWord(0) != 0; }

bool studentPresent() {
    for (int slot = 1; slot < kSlots; ++slot)
        if (statusWord(slot) != 0) return true;
    return false;
}

bool anyJobFile() {
    for (int job : kJobs)
        if (fileexist(jobFile(job)) == 0) return true;
    return false;
}

int blinkJobLed(int job) {
    switch (job % 4) {   // 1 and 5, 2 and 6, 3 and 7
        case 1:
            return blinkLed1();
        case 2:
            return blinkLed2();
        default:
            return blinkLed3();
    }
}

// A result still on display belongs to an earlier job: its marker goes with a new
// request, or the LED process would show that job's pattern over the new one's, and
// the new job's result would read as the earlier job's.
void dropEarlierResults() { (void)to_system("rm -f /tmp/showresult?.cmd"); }

// Jobs 1, 2, 5 and 6: the general marker, the job's marker, then the job file, so
// the result display is set up before the operation process can see the job.
void requestJob(int job) {
    dropEarlierResults();
    (void)to_system("echo > /tmp/showresult.cmd");
    (void)to_system("echo > " + resultMarker(job));
    (void)to_system(std::string("echo > ") + jobFile(job));
}

// Jobs 3 and 7 write the job file before the job's marker.
void requestClear(int job) {
    dropEarlierResults();
    (void)to_system("echo > /tmp/showresult.cmd");
    (void)to_system(std::string("echo > ") + jobFile(job));
    (void)to_system("echo > " + resultMarker(job));
    (void)to_system("echo del\n");
}

// The shift that chose a whole-stick job may still be held when the panel looks again
// after its pause: only shift pressed anew during the job asks for a cancel, or a slow
// hand would cancel the job it just asked for, and a whole-stick collect would end
// with nobody collected.
bool shiftReleasedSinceRequest = true;

// A shift still held when the panel falls idle after a job (the hand that asked for
// the cancel, or the one that chose a whole-stick job, not yet let go) neither
// dismisses the result the job has just put on display nor counts towards the
// shutdown: only a shift pressed anew does.
bool shiftHeldFromJob = false;

void busyCycle(int& blinkPhase) {
    const bool shift = pressed_or_exit(kShift);
    shiftHeldFromJob = shift;
    if (!shift) shiftReleasedSinceRequest = true;
    if (shift && shiftReleasedSinceRequest) {
        (void)to_system("echo > /tmp/bt4.cmd");
        (void)cmdLed4("1");
    }
    if (blinkPhase == 0) {
        for (int job : kJobs) {
            if (fileexist(jobFile(job)) != 0) continue;
            (void)blinkJobLed(job);
            const bool cancelPending = fileexist(kCancelFile) == 0;
            if (cancelPending)
                (void)blinkLed4();
            else if (job >= 5)
                (void)cmdLed4("1");   // LED4 lit marks a whole-stick job
        }
    }
    blinkPhase = (blinkPhase + 1) % kBlinkEvery;
    usleep(kBusyMicros);
}

// Hold about one second, release, press again within about three seconds. The
// release must be seen first: a press still held from the hold does not confirm.
bool clearGestureConfirmed() {
    for (int i = 0; i < kHoldReads; ++i) {
        if (!pressed_or_exit(kClear)) return false;
        usleep(kHoldMicros);
    }
    (void)cmdLed3("1");   // the prompt
    bool releaseSeen = false;
    for (int i = 0; i < kConfirmReads; ++i) {
        if (!pressed_or_exit(kClear))
            releaseSeen = true;
        else if (releaseSeen)
            return true;
        usleep(kConfirmMicros);
    }
    return false;
}

void shutDown() {
    fflush(stdout);
    (void)system("sh /etc/init.d/tamvik_shutdown.sh");
    exit(0);
}

// True when a job was asked for (the caller then pauses instead of the period).
bool idleCycle(int& shiftHoldCount) {
    bool requested = false;

    const bool shift = pressed_or_exit(kShift);
    if (!shift) shiftHeldFromJob = false;
    if (shift && !shiftHeldFromJob) {
        if (fileexist(kResultDisplay) == 0) {
            (void)to_system("rm /tmp/showresult*.cmd");
            (void)resetDuplicator();
        }
        ++shiftHoldCount;
    } else {
        shiftHoldCount = 0;
    }
    if (shiftHoldCount == kShutdownCycles) shutDown();

    if (pressed_or_exit(kDistribute) && !requested && masterPresent()) {
        if (studentPresent()) {
            requested = true;
            requestJob(pressed_or_exit(kShift) ? 5 : 1);
        } else {
            updateDup();   // the master alone: the update; no pause follows
        }
    }

    if (pressed_or_exit(kCollect) && !requested) {
        for (int slot = 1; slot < kSlots; ++slot)
            printf("sticksPartition[%d] %d\n", slot, statusWord(slot));
        if (masterPresent() && studentPresent()) {
            requested = true;
            requestJob(pressed_or_exit(kShift) ? 6 : 2);
        }
    }

    // The clear needs no master: it works on the students alone.
    if (pressed_or_exit(kClear) && !requested && studentPresent()) {
        requested = true;
        const bool shiftAtStart = pressed_or_exit(kShift);
        const bool confirmed = clearGestureConfirmed();
        (void)cmdLed3("0");
        if (confirmed) requestClear(shiftAtStart ? 7 : 3);
    }

    if (requested) {
        shiftHoldCount = 0;
        shiftHeldFromJob = pressed_or_exit(kShift);
        shiftReleasedSinceRequest = !shiftHeldFromJob;
    }
    return requested;
}

}   // namespace

void watchFamily(pid_t operationProcess, pid_t ledProcess) {
    gFamily[0].pid = operationProcess;
    gFamily[1].pid = ledProcess;
}

void listenmaster() {
    attachSegment();   // reports "shmat" on failure; no stick then counts
    int blinkPhase = 0;
    int shiftHoldCount = 0;
    // The job files are tested again only when an entry of /tmp came or went;
    // idle, the watch on /tmp is the 1 ms sleep itself.
    FolderWatch requests("/tmp");
    bool busy = false;
    for (unsigned cycle = 0;; ++cycle) {
        if (busy || cycle % kFamilyCheckCycles == 0) endIfFamilyBroken();
        if (requests.changed()) busy = anyJobFile();
        if (busy)
            busyCycle(blinkPhase);
        else if (idleCycle(shiftHoldCount))
            sleep(kPauseSeconds);
        else
            requests.sleep(kIdleMicros);
    }
}
