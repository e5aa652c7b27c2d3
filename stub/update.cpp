// The self-update of the service client. Every step that looks at or changes the three files runs
// under the update's lock, so one process at a time updates or rolls back; a process killed at
// any step leaves the lock free (the system drops it with the process) and a folder the next
// holder completes. The service client is only ever replaced in one step, never deleted: a host
// loading it at any moment finds the old version or the new one.
#include <cstring>
#include <string>

#include "fileops.h"
#include "files.h"
#include "stub.h"

namespace {

const char kServiceFile[] = TAVO2_FILE;
const char kUpdateFile[] = TAVO2UPD_FILE;
const char kBackupFile[] = TAVO2BCK_FILE;

// Longer than any update takes; a host that waits so long loads the service client as it is.
constexpr int kLockWaitMilliseconds = 10000;

std::string lockFileName() { return platform::privateName(kServiceFile, "lock"); }

// Where a version that does not load is kept for the administrator.
std::string rejectedFileName() { return platform::privateName(kServiceFile, "rejected"); }

bool exists(const char* fileName) {
    platform::FileInfo info{};
    return platform::fileInfo(fileName, &info) == 0;
}

// Known to be absent: a file that cannot be looked at is not taken for a missing one.
bool missing(const char* fileName) {
    platform::FileInfo info{};
    return platform::fileInfo(fileName, &info) == platform::kErrorFileNotFound;
}

// The update's lock for as long as the object lives; held() false when it could not be had.
struct UpdateLock {
    platform::FileLock lock = 0;
    int code;
    UpdateLock() : code(platform::acquireFileLock(lockFileName().c_str(), kLockWaitMilliseconds, &lock)) {
        if (code == platform::kErrorSharingViolation)
            stubLog(LOG_ERROR, "Aggiornamento in corso in un altro processo: %s resta com'e'\n", kServiceFile);
        else if (code != 0)
            stubLog(LOG_ERROR, "%s non acquisito (%d): %s resta com'e'\n", lockFileName().c_str(), code, kServiceFile);
    }
    ~UpdateLock() {
        if (held()) platform::releaseFileLock(lockFileName().c_str(), lock);
    }
    UpdateLock(const UpdateLock&) = delete;
    UpdateLock& operator=(const UpdateLock&) = delete;
    bool held() const { return code == 0; }
};

// Side files of copies a killed holder was cut short in: nobody can use them.
void removeAbandonedCopies() {
    const std::string rejected = rejectedFileName();
    for (const char* target : {kServiceFile, kBackupFile, rejected.c_str()}) {
        std::string copy = platform::partialCopyName(target);
        if (!exists(copy.c_str())) continue;
        stubLog(LOG_ERROR, "%s lasciato da un processo interrotto: lo elimino\n", copy.c_str());
        platform::deleteFile(copy.c_str());
    }
}

// A service client deleted by hand or by an older stub leaves the backup alone: it goes back.
void restoreLostServiceClient() {
    if (!missing(kServiceFile) || !exists(kBackupFile)) return;
    stubLog(LOG_ERROR, "%s mancante: ripristino %s\n", kServiceFile, kBackupFile);
    int code = platform::copyFileIfAbsent(kBackupFile, kServiceFile);
    if (code != 0 && code != platform::kErrorFileExists)
        stubLog(LOG_ERROR, "Ripristino di %s non riuscito: %d\n", kServiceFile, code);
}

// Whether the update file holds a library to install. An empty one is no library: a probe a
// killed process left (it carries the probe's mark) is removed, any other is left alone.
bool holdsUpdate() {
    platform::FileInfo info{};
    int code = platform::fileInfo(kUpdateFile, &info);
    if (code != 0) {
        stubLog(LOG_DEBUG, "%s non leggibile (%d): nessun aggiornamento\n", kUpdateFile, code);
        return false;
    }
    if (info.size > 0) return true;
    if (platform::isLeftoverProbe(kUpdateFile)) {
        stubLog(LOG_ERROR, "%s vuoto, lasciato da un processo interrotto: lo elimino\n", kUpdateFile);
        platform::deleteFile(kUpdateFile);
    } else {
        stubLog(LOG_ERROR, "%s vuoto: non e' un aggiornamento\n", kUpdateFile);
    }
    return false;
}

// Saves the service client as the backup; false when it cannot be, the update staying pending.
// Without a service client the backup already holds the version the update replaces: *lost is
// set, and the update must then take a name that is free, never one that turns out taken.
bool backUp(bool* lost) {
    *lost = missing(kServiceFile) && exists(kBackupFile);
    if (*lost) {
        stubLog(LOG_ERROR, "%s mancante: completo l'aggiornamento interrotto\n", kServiceFile);
        return true;
    }
    stubLog(LOG_DEBUG, "Trovato %s. Copio il file %s in %s...\n", kUpdateFile, kServiceFile, kBackupFile);
    if (platform::copyFileReplacing(kServiceFile, kBackupFile) != 0) {
        stubLog(LOG_DEBUG, "%s backup Error, impossibile aggiornare la DLL!\n", kServiceFile);
        return false;
    }
    stubLog(LOG_DEBUG, "%s backup OK; cancello %s....\n", kServiceFile, kServiceFile);
    return true;
}

// True when the update took the service client's place. It replaces it in one step; where the
// system refuses (Windows, while another host has it loaded) the update stays pending.
bool install() {
    bool lost = false;
    if (!backUp(&lost)) return false;
    stubLog(LOG_DEBUG, "Rinomino %s in %s....\n", kUpdateFile, kServiceFile);
    int code =
        lost ? platform::renameFile(kUpdateFile, kServiceFile) : platform::replaceFile(kUpdateFile, kServiceFile);
    if (code == 0) return true;
    stubLog(LOG_ERROR, "Aggiornamento di %s non riuscito (%d): aggiornamento rimandato\n", kServiceFile, code);
    return false;
}

// The probe and, when an update is pending, its installation.
bool probeAndInstall() {
    platform::ProbeHandle probe = 0;
    int probeCode = platform::createProbe(kUpdateFile, &probe);
    if (probeCode == 0) {
        stubLog(LOG_DEBUG, "Elimino %s..\n", kUpdateFile);
        platform::removeProbe(kUpdateFile, probe);
        return false;
    }
    stubLog(LOG_DEBUG, "%s: CreateFile=%d\n", kUpdateFile, probeCode);
    return probeCode == platform::kErrorFileExists && holdsUpdate() && install();
}

// Whether the two files hold the same bytes; false when either cannot be read.
bool sameContents(const char* one, const char* other) {
    platform::FileHandle files[2] = {platform::kNoFile, platform::kNoFile};
    bool same = platform::openCurrentDirectoryFile(one, &files[0]) == 0 &&
                platform::openCurrentDirectoryFile(other, &files[1]) == 0;
    char chunks[2][16384];
    while (same) {
        size_t got[2] = {0, 0};
        for (int i = 0; i < 2 && same; ++i) {
            // Fill the chunk, so both files are compared in the same steps.
            while (same && got[i] < sizeof chunks[i]) {
                size_t read = 0;
                same = platform::readFileChunk(files[i], chunks[i] + got[i], sizeof chunks[i] - got[i], &read) == 0;
                if (read == 0) break;
                got[i] += read;
            }
        }
        same = same && got[0] == got[1] && std::memcmp(chunks[0], chunks[1], got[0]) == 0;
        if (got[0] == 0) break;
    }
    platform::closeFile(files[0]);
    platform::closeFile(files[1]);
    return same;
}

}  // namespace

bool applyPendingUpdate() {
    UpdateLock lock;
    if (!lock.held()) return false;
    removeAbandonedCopies();
    bool installed = probeAndInstall();
    restoreLostServiceClient();
    return installed;
}

bool rollBackUnloadableVersion() {
    UpdateLock lock;
    if (!lock.held()) return false;
    // Another host may have rolled back meanwhile; then the service client is the backup.
    if (!exists(kBackupFile) || sameContents(kServiceFile, kBackupFile)) return false;
    std::string rejected = rejectedFileName();
    stubLog(LOG_ERROR, "%s non caricabile: lo conservo come %s e ripristino %s\n", kServiceFile, rejected.c_str(),
            kBackupFile);
    int code = platform::copyFileReplacing(kServiceFile, rejected.c_str());
    if (code == 0) code = platform::copyFileReplacing(kBackupFile, kServiceFile);
    if (code != 0) stubLog(LOG_ERROR, "Ripristino di %s non riuscito: %d\n", kServiceFile, code);
    return code == 0;
}
