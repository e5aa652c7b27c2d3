// The Java peers of slots, sessions and objects: handles read out of them, new peers built
// from an owner and a handle.
#pragma once

#include <jni.h>

#include "cryptoki.h"
#include "handles.h"
#include "lookups.h"

#define BRIDGE_CLASS_MODULE "it/vantrel/pkcs11/nat/NativePKCS11"
#define BRIDGE_CLASS_SLOT "it/vantrel/pkcs11/nat/NativePKCS11Slot"
#define BRIDGE_CLASS_SESSION "it/vantrel/pkcs11/nat/NativePKCS11Session"
#define BRIDGE_CLASS_OBJECT "it/vantrel/pkcs11/nat/NativePKCS11Object"
#define BRIDGE_CTOR_SLOT "(Lit/vantrel/pkcs11/nat/NativePKCS11;I)V"
#define BRIDGE_CTOR_SESSION "(Lit/vantrel/pkcs11/nat/NativePKCS11Slot;I)V"
#define BRIDGE_CTOR_OBJECT "(Lit/vantrel/pkcs11/nat/NativePKCS11Session;I)V"

// Each reads the field of the declared peer class, which subclasses of the peers inherit. A
// null peer, or a field that cannot be found, leaves a Java exception pending and returns
// false; the native then returns at once.
bool getSlotHandle(JNIEnv* env, jobject slot, CK_SLOT_ID* handle);
bool getSessionHandle(JNIEnv* env, jobject session, CK_SESSION_HANDLE* handle);
bool getObjectHandle(JNIEnv* env, jobject object, CK_OBJECT_HANDLE* handle);
bool getObjectSessionHandle(JNIEnv* env, jobject object, CK_SESSION_HANDLE* handle);

// The int a new peer carries for `handle`, with its owner's handle (handles.h); raises
// "Internal error" when the alias table has no room left.
bool peerHandle(JNIEnv* env, HandleKind kind, CK_ULONG owner, CK_ULONG handle, jint* value);

// A new peer (JavaConstructor Slot, Session or Object) built from its owner peer (a slot's
// module, a session's slot, an object's session) and a handle; null on failure.
jobject newPeer(JNIEnv* env, JavaConstructor peer, jobject owner, CK_ULONG handle);
