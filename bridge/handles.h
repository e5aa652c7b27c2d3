// Cryptoki handles and slot IDs as the Java int their peers carry. Where CK_ULONG is 32 bits
// the int holds the same bits. Where it is wider, a handle that fits in 32 bits travels
// unchanged as well, and a wider one (a module that hands out pointers, or puts the slot in
// the top bits) travels as an alias the bridge keeps, so that the module gets it back whole.
#pragma once

#include <jni.h>

#include "cryptoki.h"

// The int a peer carries for `handle`; false when a wide handle finds no room for its alias.
bool handleToJava(CK_ULONG handle, jint* value);

// The handle a peer's int stands for: the alias's handle, or the int's 32 bits.
CK_ULONG handleFromJava(jint value);

// Forgets every alias (their module is gone).
void forgetHandles();
