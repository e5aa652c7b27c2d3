// Cryptoki handles and slot IDs as the Java int their peers carry. Where CK_ULONG is 32 bits
// the int holds the same bits. Where it is wider, a handle travels unchanged when it fits in 32
// bits below the alias range; any other (a module that hands out pointers, or puts the slot in
// the top bits, or a handle inside the alias range) travels as an alias the bridge keeps, so
// that the module gets it back whole.
//
// Aliases live as long as what they name is open: a session's goes when it is closed (also
// through closeAllSessions), an object's with its session or when it is destroyed, all of them
// when the module is finalized. An alias that no longer names anything reaches the module as
// CK_INVALID_HANDLE; in particular one kept from before a finalize never resolves again.
// The table is touched under the bridge lock only (state.h).
#pragma once

#include <jni.h>

#include <cstddef>

#include "cryptoki.h"

enum class HandleKind : unsigned char { Slot, Session, Object };

// Whether handleToJava keeps a record of this handle (and so needs its owner).
bool handleIsKept(HandleKind kind, CK_ULONG handle);

// The int a new peer carries for `handle`. `owner` is the slot of a session and the session
// of an object (unused for a slot). False when the table has no room left.
bool handleToJava(HandleKind kind, CK_ULONG owner, CK_ULONG handle, jint* value);

// The handle a peer's int of that kind stands for.
CK_ULONG handleFromJava(HandleKind kind, jint value);

// The module closed the session, the slot's sessions or destroyed the object: their aliases go.
void forgetSession(CK_SESSION_HANDLE session);
void forgetSlotSessions(CK_SLOT_ID slot);
void forgetObject(CK_SESSION_HANDLE session, CK_OBJECT_HANDLE object);

// Forgets every alias (their module is gone), so that none of them resolves again.
void forgetHandles();

// Records kept now (aliases and sessions), for the tests.
size_t keptHandleCount();
