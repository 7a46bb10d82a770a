// Self-update from an archive on the master stick. Runs in the button process when
// the distribute button is pressed with the master alone; button polling waits
// until it returns or the appliance reboots.
//
// The archive's name comes from the stick: it reaches tar only through shellQuote,
// so a name such as "dododirezeva_1;reboot;.tar" unpacks that very file and runs
// nothing else. Its version text is written to the version file as plain bytes.
#include "supervisor/self_update.h"

#include <dirent.h>
#include <strings.h>
#include <unistd.h>

#include <cctype>
#include <climits>
#include <cstdio>
#include <memory>

#include "indicators/function_leds.h"
#include "indicators/status_codes.h"
#include "sticks/mount.h"
#include "supervisor/base/file_helpers.h"
#include "supervisor/base/shell_runner.h"
#include "supervisor/base/text_utils.h"
#include "supervisor/base/file_handles.h"

namespace {

constexpr const char* kArchivePrefix = "dododirezeva_";
constexpr size_t kPrefixLength = 13;
constexpr size_t kExtensionLength = 4;   // ".tar" or the like
constexpr size_t kShortestWithExtension = kPrefixLength + kExtensionLength;
constexpr const char* kMasterRoot = "/tmp/tamvikma1/";
constexpr const char* kVersionFile = "/dazuzorizizar";
constexpr size_t kVersionLineMax = 127;
constexpr const char* kWorkFolder = "/tmp/update";
constexpr const char* kUpdateScript = "/tmp/update/ruzedirevora.sh";
constexpr useconds_t kSignalStepMicros = 500000;
constexpr int kMasterSlot = 0;

// All four function LEDs, in the order LED4, LED3, LED2, LED1.
void setFunctionLeds(const char* led4, const char* led3, const char* led2, const char* led1) {
    (void)cmdLed4(led4);
    (void)cmdLed3(led3);
    (void)cmdLed2(led2);
    (void)cmdLed1(led1);
}

void showAll(const char* value) { setFunctionLeds(value, value, value, value); }

// Dark, lit, dark, dark, lit, dark, then lit for as long as the update works.
void showAttentionSignal() {
    const char* steps[] = {"0", "1", "0", "0", "1", "0"};
    for (const char* value : steps) {
        showAll(value);
        usleep(kSignalStepMicros);
    }
    showAll("1");
}

void showDoneSignal() {
    for (int i = 0; i < 3; ++i) {
        setFunctionLeds("0", "1", "0", "1");
        usleep(kSignalStepMicros);
        setFunctionLeds("1", "0", "1", "0");
        usleep(kSignalStepMicros);
    }
    setFunctionLeds("1", "0", "1", "0");
}

// The first entry of the master's root folder, in listing order, that is named like
// an update archive; "" when there is none. Sets listed to false when the folder
// cannot be listed at all.
std::string findArchiveName(bool& listed) {
    Dir dir(opendir(kMasterRoot));
    listed = dir != nullptr;
    if (!dir) return "";
    while (const dirent* entry = readdir(dir.get()))
        if (isUpdateArchiveName(entry->d_name)) return entry->d_name;
    return "";
}

bool removeWorkFolder() { return commandSucceeds(std::string("rm -rf ") + kWorkFolder); }

// Unpacks the archive and tells whether it yielded the update script. An archive cut
// short (a copy onto the stick that ended early, a stick pulled mid-unpack) may still
// yield the script, which would then install a part of the update: only a whole
// unpack counts. The work folder starts empty: a script or a file an earlier archive
// left would pass for part of this one.
bool unpackArchive(const std::string& archivePath) {
    if (!removeWorkFolder() || createDir(kWorkFolder) != 0) {
        printf("update: %s cannot be emptied.\n", kWorkFolder);
        return false;
    }
    if (!commandSucceeds("tar -xvf " + shellQuote(archivePath) + " -C /tmp/update/ ")) {
        printf("update: %s could not be unpacked whole.\n", archivePath.c_str());
        return false;
    }
    if (fileexist(kUpdateScript) != 0) {
        printf("update: %s holds no ruzedirevora.sh.\n", archivePath.c_str());
        return false;
    }
    return true;
}

}   // namespace

bool isUpdateArchiveName(std::string_view name) {
    return name.size() > kPrefixLength &&
           strncasecmp(name.data(), kArchivePrefix, kPrefixLength) == 0;
}

std::string archiveVersionText(std::string_view name) {
    if (name.size() <= kPrefixLength) return "";
    if (name.size() < kShortestWithExtension) return std::string(name.substr(kPrefixLength));
    return std::string(name.substr(kPrefixLength, name.size() - kShortestWithExtension));
}

long long versionNumber(std::string_view text) {
    size_t i = 0;
    while (i < text.size() && isspace(static_cast<unsigned char>(text[i]))) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    long long value = 0;
    for (; i < text.size() && isdigit(static_cast<unsigned char>(text[i])); ++i) {
        const int digit = text[i] - '0';
        if (value > (LLONG_MAX - digit) / 10) return negative ? -LLONG_MAX : LLONG_MAX;
        value = value * 10 + digit;
    }
    return negative ? -value : value;
}

long long installedVersion() {
    File file(fopen(kVersionFile, "r"));
    if (!file) return 0;
    char line[kVersionLineMax + 1];
    if (!fgets(line, sizeof line, file.get())) return 0;
    return versionNumber(line);
}

namespace {

// How an attempt on the mounted master ended.
enum class UpdateEnd { rebooted, declined, unlistable };

// Installs the archive on the mounted master. Every way out but a reboot leaves the
// result to the caller, which shows it only once the master is released.
UpdateEnd installFromMaster() {
    bool listed = false;
    const std::string name = findArchiveName(listed);
    if (!listed) {
        printf("update: cannot list %s.\n", kMasterRoot);
        return UpdateEnd::unlistable;
    }
    const std::string versionText = archiveVersionText(name);
    const long long version = versionNumber(versionText);
    if (name.empty() || version == 0) return UpdateEnd::declined;
    // The same version is applied again; only an older archive is ignored.
    if (installedVersion() > version) {
        printf("update: %s is older than the installed version.\n", name.c_str());
        return UpdateEnd::declined;
    }
    const std::string archivePath = kMasterRoot + name;
    if (fileexist(archivePath) != 0) {
        printf("update: %s is gone.\n", archivePath.c_str());
        return UpdateEnd::declined;
    }
    if (!unpackArchive(archivePath)) return UpdateEnd::declined;
    // What the update changes is the script's business; a script that fails has not
    // updated the appliance, which then records nothing and does not reboot.
    if (!commandSucceeds(kUpdateScript)) {
        printf("update: ruzedirevora.sh failed; the version stays as it was.\n");
        return UpdateEnd::declined;
    }
    // Recorded whole: a cut while it is written must not leave the board without a
    // version, which would let any older archive in.
    (void)replaceFile(kVersionFile, versionText + "\n");
    showDoneSignal();
    (void)to_system("umount /tmp/tamvikma1");
    (void)to_system("reboot");
    showReadyPattern();
    return UpdateEnd::rebooted;
}

}   // namespace

void updateDup() {
    checkLedStatus();   // fills sticksPartition, needed to mount the master
    showAttentionSignal();
    if (isUsbMounted(kMasterSlot) == -1) {
        printf("update: the master stick cannot be mounted.\n");
        showReadyPattern();
        return;
    }
    const UpdateEnd end = installFromMaster();
    if (end == UpdateEnd::rebooted) return;
    // What a declined archive unpacked would keep its room in /tmp, the memory every
    // later job lists its mounts and logs in, until the next update or reboot.
    if (fileexist(kWorkFolder) == 0) (void)removeWorkFolder();
    // A master left mounted would outlive the stick: the next one plugged, the
    // update stick among them, would be read through the old mount. The result shows
    // after the release: a master pulled at the ready pattern must be clean.
    (void)umountUsb(kMasterSlot);
    if (end == UpdateEnd::declined) showReadyPattern();   // unlistable: the four stay lit
}
