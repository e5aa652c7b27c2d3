#include <string>
#include <vector>

#include "fileops.h"
#include "stub.h"

namespace {

const char kServiceFile[] = TAVO2_FILE;
const char kUpdateFile[] = TAVO2UPD_FILE;
const char kBackupFile[] = TAVO2BCK_FILE;

// An empty update file is a probe, never a library. A young one may be another process's probe
// or an update still being written; one older than this was left by a process that died.
constexpr int64_t kStaleProbeSeconds = 10;

bool exists(const char* fileName) {
    platform::FileInfo info{};
    return platform::fileInfo(fileName, &info) == 0;
}

// Puts the backup back in place of the service client, so the following load still finds a
// working one.
bool restoreBackup() {
    int code = platform::copyFileReplacing(kBackupFile, kServiceFile);
    if (code != 0) stubLog(LOG_ERROR, "Ripristino di %s non riuscito: %d\n", kServiceFile, code);
    return code == 0;
}

// An update interrupted after the service client was deleted left only the backup.
bool serviceClientLost() { return !exists(kServiceFile) && exists(kBackupFile); }

void restoreLostServiceClient() {
    if (!serviceClientLost()) return;
    stubLog(LOG_ERROR, "%s mancante: ripristino %s\n", kServiceFile, kBackupFile);
    // One that another process put in place meanwhile (its own restore, a completed update) stays.
    int code = platform::copyFileIfAbsent(kBackupFile, kServiceFile);
    if (code != 0 && code != platform::kErrorFileExists)
        stubLog(LOG_ERROR, "Ripristino di %s non riuscito: %d\n", kServiceFile, code);
}

// Whether the update file holds a library to install. A vanished one (another process took
// it) and an empty one are nothing pending; an empty one left by a dead process is removed.
bool holdsUpdate() {
    platform::FileInfo info{};
    int code = platform::fileInfo(kUpdateFile, &info);
    if (code != 0) {
        stubLog(LOG_DEBUG, "%s non leggibile (%d): nessun aggiornamento\n", kUpdateFile, code);
        return false;
    }
    if (info.size > 0) return true;
    if (info.secondsSinceWrite < kStaleProbeSeconds) {
        stubLog(LOG_ERROR, "%s vuoto: non e' un aggiornamento\n", kUpdateFile);
    } else {
        stubLog(LOG_ERROR, "%s vuoto, lasciato da un processo interrotto: lo elimino\n", kUpdateFile);
        platform::deleteFile(kUpdateFile);
    }
    return false;
}

// The update, moved to a name of this process so that no other process acts on it meanwhile.
bool claimUpdate(std::string& claim) {
    claim = platform::processPrivateName(kUpdateFile);
    int code = platform::renameFile(kUpdateFile, claim.c_str());
    if (code == 0) return true;
    if (code == platform::kErrorFileNotFound)
        stubLog(LOG_DEBUG, "%s preso da un altro processo: nessun aggiornamento\n", kUpdateFile);
    else
        stubLog(LOG_ERROR, "%s non acquisito (%d): aggiornamento rimandato\n", kUpdateFile, code);
    return false;
}

// A claim whose process died before installing it (a crash, a kill) waits again as the update.
// An update placed since supersedes it: it is removed, so it can never be installed over that one.
void recoverAbandonedClaims() {
    std::vector<std::string> claims;
    int code = platform::abandonedPrivateNames(kUpdateFile, &claims);
    if (code != 0) stubLog(LOG_ERROR, "Ricerca degli aggiornamenti interrotti non riuscita (%d)\n", code);
    for (const std::string& claim : claims) {
        code = platform::renameFile(claim.c_str(), kUpdateFile);
        platform::FileInfo pending{};
        if (code == 0) {
            stubLog(LOG_ERROR, "%s lasciato da un processo interrotto: di nuovo in attesa come %s\n", claim.c_str(),
                    kUpdateFile);
        } else if (code == platform::kErrorFileExists && platform::fileInfo(kUpdateFile, &pending) == 0 &&
                   pending.size > 0) {
            stubLog(LOG_ERROR, "%s superato da un nuovo %s: lo elimino\n", claim.c_str(), kUpdateFile);
            platform::deleteFile(claim.c_str());
        } else if (code != platform::kErrorFileNotFound) {
            stubLog(LOG_ERROR, "%s non recuperato (%d)\n", claim.c_str(), code);
        }
    }
}

// Copies a process was cut short in left side files behind; nobody can use them.
void removeAbandonedCopies() {
    for (const char* target : {kServiceFile, kBackupFile}) {
        std::vector<std::string> copies;
        if (platform::abandonedPrivateNames(platform::partialCopyName(target).c_str(), &copies) != 0) continue;
        for (const std::string& copy : copies) {
            stubLog(LOG_ERROR, "%s lasciato da un processo interrotto: lo elimino\n", copy.c_str());
            platform::deleteFile(copy.c_str());
        }
    }
}

// The claimed update goes back to wait for a later load.
void releaseClaim(const std::string& claim) {
    int code = platform::renameFile(claim.c_str(), kUpdateFile);
    if (code != 0) stubLog(LOG_ERROR, "%s non riportato in %s: %d\n", claim.c_str(), kUpdateFile, code);
}

// Saves the service client as the backup and deletes it; false, with both left as they were,
// when either cannot be done.
bool backUpAndDelete() {
    stubLog(LOG_DEBUG, "Trovato %s. Copio il file %s in %s...\n", kUpdateFile, kServiceFile, kBackupFile);
    if (platform::copyFileReplacing(kServiceFile, kBackupFile) != 0) {
        stubLog(LOG_DEBUG, "%s backup Error, impossibile aggiornare la DLL!\n", kServiceFile);
        return false;
    }
    stubLog(LOG_DEBUG, "%s backup OK; cancello %s....\n", kServiceFile, kServiceFile);
    int code = platform::deleteFile(kServiceFile);
    // Another host may have it in use: it stays intact.
    if (code != 0)
        stubLog(LOG_ERROR, "Cancellazione di %s non riuscita (%d): aggiornamento rimandato\n", kServiceFile, code);
    return code == 0;
}

// True when the claimed update took the service client's place.
bool installClaimedUpdate(const std::string& claim) {
    if (serviceClientLost()) {
        stubLog(LOG_ERROR, "%s mancante: completo l'aggiornamento interrotto\n", kServiceFile);
    } else if (!backUpAndDelete()) {
        releaseClaim(claim);
        return false;
    }
    stubLog(LOG_DEBUG, "Rinomino %s in %s....\n", kUpdateFile, kServiceFile);
    int code = platform::renameFile(claim.c_str(), kServiceFile);
    if (code == 0) return true;
    stubLog(LOG_ERROR, "Aggiornamento di %s non riuscito (rinomina=%d)\n", kServiceFile, code);
    restoreLostServiceClient();
    releaseClaim(claim);
    return false;
}

}  // namespace

bool applyPendingUpdate() {
    recoverAbandonedClaims();
    removeAbandonedCopies();
    int probeCode = platform::createNewFile(kUpdateFile);
    if (probeCode == 0) {
        stubLog(LOG_DEBUG, "Elimino %s..\n", kUpdateFile);
        platform::deleteFile(kUpdateFile);
        restoreLostServiceClient();
        return false;
    }
    stubLog(LOG_DEBUG, "%s: CreateFile=%d\n", kUpdateFile, probeCode);
    if (probeCode != platform::kErrorFileExists) return false;
    std::string claim;
    if (!holdsUpdate() || !claimUpdate(claim)) {
        restoreLostServiceClient();
        return false;
    }
    return installClaimedUpdate(claim);
}

bool revertUnloadableUpdate() {
    stubLog(LOG_ERROR, "%s aggiornato non caricabile: ripristino %s\n", kServiceFile, kBackupFile);
    return restoreBackup();
}
