// What every native of p11bridge includes: the frame it stands on. Each piece lives in the
// file named after its job:
//   state.h       the process-wide record
//   trace.*       the trace facility
//   binding.*     loading and releasing the Cryptoki module
//   wrappers.*    the module call wrappers, one per Cryptoki function
//   results.h     the bridge's own result codes
//   exceptions.*  PKCS11Exception for failed calls and refusals
//   peers.*       handles read from Java peers, new peers
//   handles.*     handles as the Java int a peer carries
//   lookups.*     Java classes and members, found once per JVM; JNI_OnLoad, JNI_OnUnload
//   text.*        Cryptoki texts to Java strings
//   values.h      versions, booleans and numbers between Cryptoki and Java
//   guards.*      JNI strings, array elements and local references given back in scope
//   allocation.*  native buffers
// Natives are found by their JNI name, Java_it_vantrel_pkcs11_nat_<class>_<method>:
//   NativePKCS11         module.cpp
//   NativePKCS11Slot     slot.cpp
//   NativePKCS11Object   objects.cpp (templates: attributes.*)
//   NativePKCS11Session  session.cpp (closing, information, login, PINs), search.cpp (search,
//                        creation), keypair.cpp, crypto.cpp (sign, encrypt, decrypt), keys.cpp
//                        (secret keys, wrapping, random), vendor.cpp (card-vendor extensions);
//                        their shared pieces are in operations.*
#pragma once

#include <jni.h>

#include "allocation.h"
#include "binding.h"
#include "cryptoki.h"
#include "exceptions.h"
#include "guards.h"
#include "handles.h"
#include "lookups.h"
#include "peers.h"
#include "results.h"
#include "state.h"
#include "text.h"
#include "trace.h"
#include "values.h"
#include "wrappers.h"

// Exports of the JNI natives: plain names on linux64 and win64; on win32 the decorated
// stdcall names come from the module-definition file generated at build time.
#define BRIDGE_NATIVE(result) extern "C" BRIDGE_EXPORT result JNICALL

// Every native opens with `const BridgeLockHold hold;` (state.h) and so runs whole under the
// bridge lock.

// A native the bridge does not carry out: it reads nothing, calls nothing, prints no start
// trace, raises `message` and returns `value` (empty for void). The parameters after the
// JNI environment follow `value`.
#define BRIDGE_REFUSED_NATIVE(result, name, message, value, ...) \
    BRIDGE_NATIVE(result) name(JNIEnv* env, __VA_ARGS__) {       \
        const BridgeLockHold hold;                               \
        throwMessageException(env, message);                     \
        return value;                                            \
    }
