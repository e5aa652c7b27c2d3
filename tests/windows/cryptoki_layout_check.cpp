// The Windows Cryptoki ABI, held at compile time: every structure packed to one byte and a
// 32-bit CK_ULONG, so a module built with the published Windows headers reads what we write.
#include <cstddef>

#include "cryptoki.h"

namespace {
constexpr size_t kPointer = sizeof(void*);

static_assert(sizeof(CK_ULONG) == 4, "CK_ULONG is 32 bits on Windows");
static_assert(sizeof(CK_VERSION) == 2, "CK_VERSION");

static_assert(offsetof(CK_INFO, manufacturerID) == 2, "CK_INFO.manufacturerID");
static_assert(offsetof(CK_INFO, flags) == 34, "CK_INFO.flags");
static_assert(offsetof(CK_INFO, libraryDescription) == 38, "CK_INFO.libraryDescription");
static_assert(offsetof(CK_INFO, libraryVersion) == 70, "CK_INFO.libraryVersion");
static_assert(sizeof(CK_INFO) == 72, "CK_INFO");

static_assert(offsetof(CK_SLOT_INFO, flags) == 96, "CK_SLOT_INFO.flags");
static_assert(offsetof(CK_SLOT_INFO, hardwareVersion) == 100, "CK_SLOT_INFO.hardwareVersion");
static_assert(offsetof(CK_SLOT_INFO, firmwareVersion) == 102, "CK_SLOT_INFO.firmwareVersion");
static_assert(sizeof(CK_SLOT_INFO) == 104, "CK_SLOT_INFO");

static_assert(offsetof(CK_TOKEN_INFO, serialNumber) == 80, "CK_TOKEN_INFO.serialNumber");
static_assert(offsetof(CK_TOKEN_INFO, flags) == 96, "CK_TOKEN_INFO.flags");
static_assert(offsetof(CK_TOKEN_INFO, ulMaxSessionCount) == 100, "CK_TOKEN_INFO.ulMaxSessionCount");
static_assert(offsetof(CK_TOKEN_INFO, ulFreePrivateMemory) == 136, "CK_TOKEN_INFO.ulFreePrivateMemory");
static_assert(offsetof(CK_TOKEN_INFO, hardwareVersion) == 140, "CK_TOKEN_INFO.hardwareVersion");
static_assert(offsetof(CK_TOKEN_INFO, firmwareVersion) == 142, "CK_TOKEN_INFO.firmwareVersion");
static_assert(offsetof(CK_TOKEN_INFO, utcTime) == 144, "CK_TOKEN_INFO.utcTime");
static_assert(sizeof(CK_TOKEN_INFO) == 160, "CK_TOKEN_INFO");

static_assert(offsetof(CK_SESSION_INFO, state) == 4, "CK_SESSION_INFO.state");
static_assert(offsetof(CK_SESSION_INFO, ulDeviceError) == 12, "CK_SESSION_INFO.ulDeviceError");
static_assert(sizeof(CK_SESSION_INFO) == 16, "CK_SESSION_INFO");

// Pointer members follow a 4-byte CK_ULONG without padding, also on win64.
static_assert(offsetof(CK_ATTRIBUTE, pValue) == 4, "CK_ATTRIBUTE.pValue");
static_assert(offsetof(CK_ATTRIBUTE, ulValueLen) == 4 + kPointer, "CK_ATTRIBUTE.ulValueLen");
static_assert(sizeof(CK_ATTRIBUTE) == 8 + kPointer, "CK_ATTRIBUTE");
static_assert(offsetof(CK_MECHANISM, pParameter) == 4, "CK_MECHANISM.pParameter");
static_assert(offsetof(CK_MECHANISM, ulParameterLen) == 4 + kPointer, "CK_MECHANISM.ulParameterLen");
static_assert(sizeof(CK_MECHANISM) == 8 + kPointer, "CK_MECHANISM");
static_assert(sizeof(CK_MECHANISM_INFO) == 12, "CK_MECHANISM_INFO");
static_assert(sizeof(CK_DATE) == 8, "CK_DATE");

// The function list: the version, then the 68 entries in the standard's order from offset 2.
static_assert(offsetof(CK_FUNCTION_LIST, C_Initialize) == 2, "CK_FUNCTION_LIST.C_Initialize");
static_assert(offsetof(CK_FUNCTION_LIST, C_GetSlotList) == 2 + 4 * kPointer, "CK_FUNCTION_LIST.C_GetSlotList");
static_assert(offsetof(CK_FUNCTION_LIST, C_Login) == 2 + 18 * kPointer, "CK_FUNCTION_LIST.C_Login");
static_assert(offsetof(CK_FUNCTION_LIST, C_Sign) == 2 + 43 * kPointer, "CK_FUNCTION_LIST.C_Sign");
static_assert(offsetof(CK_FUNCTION_LIST, C_WaitForSlotEvent) == 2 + 67 * kPointer,
              "CK_FUNCTION_LIST.C_WaitForSlotEvent");
static_assert(sizeof(CK_FUNCTION_LIST) == 2 + 68 * kPointer, "CK_FUNCTION_LIST");
}  // namespace
