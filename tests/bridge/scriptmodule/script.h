// Control side of the scriptable Cryptoki module used by the bridge tests.
//
// A test writes a script file (path in P11SCRIPT_FILE), one "key value" pair per line, and
// the module reads it afresh on every call, so a test may change answers between calls.
// Every call is appended as one line to the record file (path in P11SCRIPT_RECORD), with
// its arguments, so a test can assert exactly what the caller passed.
//
// Keys understood by the core (others are added where the functions that read them live):
//   rv.<C_Function>        result of that function (decimal or 0x hex), default 0
//   null.<C_Function>      1: that function-list entry is null
//   getlist.rv             result of C_GetFunctionList; getlist.null 1: no list handed back
//   info.cryptokiVersion   "2.11" style; info.libraryVersion, info.flags,
//   info.manufacturerID, info.libraryDescription   (texts are blank-padded by the module)
//   slots                  slot IDs in order (default "0"); slots.noToken: IDs without token
//   slots.growBy           extra entries claimed on the second C_GetSlotList call
//   slots.count            count reported by the length query, overriding the list size
//   slot.description, slot.manufacturerID, slot.flags, slot.hardwareVersion, slot.firmwareVersion
//   token.label, token.manufacturerID, token.model, token.serialNumber, token.flags,
//   token.counters (ulMaxSessionCount ... ulFreePrivateMemory, 10 numbers),
//   token.hardwareVersion, token.firmwareVersion, token.utcTime
//   mechanisms             mechanism types in order; mechanismInfo "min max flags"
//   session                handle C_OpenSession hands out (default 1)
//   sessionInfo            "slotID state flags deviceError"
//   rsa.slot rsa.session rsa.private rsa.public rsa.certificate   outputs of the extension
#pragma once

#include <string>

#include "cryptoki.h"

namespace script {

// Value of a key in the current script, or the fallback.
std::string text(const char* key, const char* fallback = "");
CK_ULONG number(const char* key, CK_ULONG fallback = 0);
bool has(const char* key);
// Result scripted for a function ("rv.<name>"), CKR_OK by default.
CK_RV result(const char* function);
// From now on the nth call through result() answers `rv` whatever the script says (0: none);
// faultPending tells whether that call is still to come. Exported by the module for the
// fault driver as P11Script_FailCall and P11Script_FaultPending.
void failCall(CK_ULONG nth, CK_RV rv);
bool faultPending();
// Appends one line to the record file.
void record(const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 1, 2)))
#endif
    ;
// Hex of a byte range for the record, "null" for a null pointer.
std::string hex(const void* bytes, CK_ULONG length);
// Copies a text blank-padded into a fixed Cryptoki field.
void pad(CK_UTF8CHAR* field, size_t width, const std::string& value);
CK_VERSION version(const char* key, const char* fallback);

}  // namespace script
