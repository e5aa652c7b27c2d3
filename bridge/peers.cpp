#include "peers.h"

#include "exceptions.h"
#include "guards.h"
#include "handles.h"
#include "lookups.h"
#include "results.h"
#include "values.h"

static bool readIntField(JNIEnv* env, jobject peer, JavaField field, HandleKind kind, CK_ULONG* handle) {
    *handle = 0;
    if (peer == nullptr) {
        throwMessageException(env, "Internal error (Null parameter)");
        return false;
    }
    jfieldID id = javaField(env, field);
    if (id == nullptr) return false;  // NoSuchFieldError pending
    *handle = handleFromJava(kind, env->GetIntField(peer, id));
    return true;
}

bool getSlotHandle(JNIEnv* env, jobject slot, CK_SLOT_ID* handle) {
    return readIntField(env, slot, JavaField::SlotID, HandleKind::Slot, handle);
}

bool getSessionHandle(JNIEnv* env, jobject session, CK_SESSION_HANDLE* handle) {
    return readIntField(env, session, JavaField::SessionID, HandleKind::Session, handle);
}

bool getObjectHandle(JNIEnv* env, jobject object, CK_OBJECT_HANDLE* handle) {
    return readIntField(env, object, JavaField::ObjectID, HandleKind::Object, handle);
}

bool getObjectSessionHandle(JNIEnv* env, jobject object, CK_SESSION_HANDLE* handle) {
    *handle = 0;
    if (object == nullptr) {
        throwMessageException(env, "Internal error (Null parameter)");
        return false;
    }
    jfieldID id = javaField(env, JavaField::ObjectSession);
    if (id == nullptr) return false;
    LocalRef<jobject> session(env, env->GetObjectField(object, id));
    return getSessionHandle(env, session.get(), handle);
}

bool peerHandle(JNIEnv* env, HandleKind kind, CK_ULONG owner, CK_ULONG handle, jint* value) {
    if (handleToJava(kind, owner, handle, value)) return true;
    throwErrorCode(env, BRIDGE_ERR_NO_MEMORY);
    return false;
}

jobject newPeer(JNIEnv* env, JavaConstructor peer, jobject owner, CK_ULONG handle) {
    HandleKind kind = peer == JavaConstructor::Slot      ? HandleKind::Slot
                      : peer == JavaConstructor::Session ? HandleKind::Session
                                                         : HandleKind::Object;
    // The owner's handle only where the alias table keeps it.
    CK_ULONG ownerHandle = 0;
    if (handleIsKept(kind, handle)) {
        bool read = kind == HandleKind::Session ? getSlotHandle(env, owner, &ownerHandle)
                                                : getSessionHandle(env, owner, &ownerHandle);
        if (!read) return nullptr;
    }
    jint value;
    if (!peerHandle(env, kind, ownerHandle, handle, &value)) return nullptr;
    return newObject(env, peer, owner, value);
}
