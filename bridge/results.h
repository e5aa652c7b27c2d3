// The bridge's own result codes, in the Cryptoki vendor range so they can never collide with
// a standard result.
#pragma once

#include "cryptoki.h"

constexpr CK_RV BRIDGE_ERR_NO_FUNCTION = 0x80000001UL;
constexpr CK_RV BRIDGE_ERR_NO_MEMORY = 0x80000002UL;
constexpr CK_RV BRIDGE_ERR_NOT_INITIALIZED = 0x80000003UL;
// A module answer that cannot be believed: more entries, bytes or objects than the room it
// was given, or a length Java cannot hold. Not CKR_GENERAL_ERROR: the module never said that.
constexpr CK_RV BRIDGE_ERR_BAD_ANSWER = 0x80000004UL;
