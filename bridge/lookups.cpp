#include "lookups.h"

bool findConstructor(JNIEnv* env, const char* className, const char* signature, LocalRef<jclass>& cls,
                     jmethodID* constructor) {
    jclass found = env->FindClass(className);
    if (found == nullptr) return false;
    cls.reset(found);
    *constructor = env->GetMethodID(found, "<init>", signature);
    return *constructor != nullptr;
}
