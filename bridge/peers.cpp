#include "peers.h"

#include "exceptions.h"
#include "guards.h"
#include "lookups.h"
#include "values.h"

static bool readIntField(JNIEnv* env, jobject peer, const char* field, CK_ULONG* handle) {
    *handle = 0;
    if (peer == nullptr) {
        throwMessageException(env, "Internal error (Null parameter)");
        return false;
    }
    LocalRef<jclass> cls(env, env->GetObjectClass(peer));
    jfieldID id = env->GetFieldID(cls.get(), field, "I");
    if (id == nullptr) return false;  // NoSuchFieldError pending
    *handle = jintToUlong(env->GetIntField(peer, id));
    return true;
}

bool getSlotHandle(JNIEnv* env, jobject slot, CK_SLOT_ID* handle) { return readIntField(env, slot, "slotID", handle); }

bool getSessionHandle(JNIEnv* env, jobject session, CK_SESSION_HANDLE* handle) {
    return readIntField(env, session, "sessionID", handle);
}

bool getObjectHandle(JNIEnv* env, jobject object, CK_OBJECT_HANDLE* handle) {
    return readIntField(env, object, "objectID", handle);
}

bool getObjectSessionHandle(JNIEnv* env, jobject object, CK_SESSION_HANDLE* handle) {
    *handle = 0;
    if (object == nullptr) {
        throwMessageException(env, "Internal error (Null parameter)");
        return false;
    }
    LocalRef<jclass> cls(env, env->GetObjectClass(object));
    jfieldID id = env->GetFieldID(cls.get(), "session", "L" BRIDGE_CLASS_SESSION ";");
    if (id == nullptr) return false;
    LocalRef<jobject> session(env, env->GetObjectField(object, id));
    return getSessionHandle(env, session.get(), handle);
}

jobject newPeer(JNIEnv* env, const char* className, const char* signature, jobject owner, CK_ULONG handle) {
    return newObject(env, className, signature, owner, ulongToJint(handle));
}
