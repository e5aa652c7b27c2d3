#include <cstdint>

#include "fileops.h"
#include "stub.h"

namespace {

const char kServiceFile[] = TAVO2_FILE;
const char kUpdateFile[] = TAVO2UPD_FILE;
const char kBackupFile[] = TAVO2BCK_FILE;

// Puts the backup back in place of the service client, so the following load still finds a
// working one.
bool restoreBackup() {
    int code = platform::copyFileReplacing(kBackupFile, kServiceFile);
    if (code != 0) stubLog(LOG_ERROR, "Ripristino di %s non riuscito: %d\n", kServiceFile, code);
    return code == 0;
}

// An empty update file is another process's probe (or one left by a crash), never a library.
bool isEmptyUpdate() {
    int64_t size = 0;
    return platform::fileSize(kUpdateFile, &size) == 0 && size == 0;
}

// True when the update took the service client's place.
bool swapInUpdate() {
    if (isEmptyUpdate()) {
        stubLog(LOG_ERROR, "%s vuoto: non e' un aggiornamento\n", kUpdateFile);
        return false;
    }
    stubLog(LOG_DEBUG, "Trovato %s. Copio il file %s in %s...\n", kUpdateFile, kServiceFile, kBackupFile);
    if (platform::copyFileReplacing(kServiceFile, kBackupFile) != 0) {
        stubLog(LOG_DEBUG, "%s backup Error, impossibile aggiornare la DLL!\n", kServiceFile);
        return false;
    }
    stubLog(LOG_DEBUG, "%s backup OK; cancello %s....\n", kServiceFile, kServiceFile);
    int deleteCode = platform::deleteFile(kServiceFile);
    stubLog(LOG_DEBUG, "Rinomino %s in %s....\n", kUpdateFile, kServiceFile);
    int renameCode = platform::renameFile(kUpdateFile, kServiceFile);
    if (renameCode == 0) return true;
    // The service client's name may be empty now.
    stubLog(LOG_ERROR, "Aggiornamento di %s non riuscito (cancellazione=%d, rinomina=%d): ripristino %s\n",
            kServiceFile, deleteCode, renameCode, kBackupFile);
    restoreBackup();
    return false;
}

}  // namespace

bool applyPendingUpdate() {
    int probeCode = platform::createNewFile(kUpdateFile);
    if (probeCode == 0) {
        stubLog(LOG_DEBUG, "Elimino %s..\n", kUpdateFile);
        platform::deleteFile(kUpdateFile);
        return false;
    }
    stubLog(LOG_DEBUG, "%s: CreateFile=%d\n", kUpdateFile, probeCode);
    return probeCode == platform::kErrorFileExists && swapInUpdate();
}

bool revertUnloadableUpdate() {
    stubLog(LOG_ERROR, "%s aggiornato non caricabile: ripristino %s\n", kServiceFile, kBackupFile);
    return restoreBackup();
}
