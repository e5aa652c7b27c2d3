#include "peers.h"

#include "exceptions.h"
#include "guards.h"
#include "handles.h"
#include "lookups.h"
#include "results.h"
#include "values.h"

static bool readIntField(JNIEnv* env, jobject peer, JavaField field, CK_ULONG* handle) {
    *handle = 0;
    if (peer == nullptr) {
        throwMessageException(env, "Internal error (Null parameter)");
        return false;
    }
    jfieldID id = javaField(env, field);
    if (id == nullptr) return false;  // NoSuchFieldError pending
    *handle = handleFromJava(env->GetIntField(peer, id));
    return true;
}

bool getSlotHandle(JNIEnv* env, jobject slot, CK_SLOT_ID* handle) {
    return readIntField(env, slot, JavaField::SlotID, handle);
}

bool getSessionHandle(JNIEnv* env, jobject session, CK_SESSION_HANDLE* handle) {
    return readIntField(env, session, JavaField::SessionID, handle);
}

bool getObjectHandle(JNIEnv* env, jobject object, CK_OBJECT_HANDLE* handle) {
    return readIntField(env, object, JavaField::ObjectID, handle);
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

bool peerHandle(JNIEnv* env, CK_ULONG handle, jint* value) {
    if (handleToJava(handle, value)) return true;
    throwErrorCode(env, BRIDGE_ERR_NO_MEMORY);
    return false;
}

jobject newPeer(JNIEnv* env, JavaConstructor peer, jobject owner, CK_ULONG handle) {
    jint value;
    if (!peerHandle(env, handle, &value)) return nullptr;
    return newObject(env, peer, owner, value);
}
