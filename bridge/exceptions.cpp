#include "exceptions.h"

#include "guards.h"
#include "lookups.h"
#include "trace.h"
#include "values.h"

void throwMessageException(JNIEnv* env, const char* message) {
    trace("JNI: Throwing vendor defined exc '%s'...", message);
    jclass cls = javaClass(env, JavaClass::Exception);
    if (cls == nullptr) return;
    env->ThrowNew(cls, message);
    trace(" Done\n");
}

void throwInsteadOfPending(JNIEnv* env, const char* message) {
    if (env->ExceptionCheck()) env->ExceptionClear();
    throwMessageException(env, message);
}

void throwUnlessPending(JNIEnv* env, const char* message) {
    if (!env->ExceptionCheck()) throwMessageException(env, message);
}

static void throwCodeException(JNIEnv* env, CK_RV rv, bool flagged) {
    trace("JNI: Throwing exc number %lx...", rv);
    jclass cls;
    jmethodID constructor;
    if (!findConstructor(env, flagged ? JavaConstructor::ExceptionFlagged : JavaConstructor::ExceptionCode, &cls,
                         &constructor))
        return;
    jobject created =
        flagged ? env->NewObject(cls, constructor, ulongToJint(rv), rv >= CKR_VENDOR_DEFINED ? JNI_TRUE : JNI_FALSE)
                : env->NewObject(cls, constructor, ulongToJint(rv));
    LocalRef<jobject> exception(env, created);
    if (!exception) return;
    env->Throw(static_cast<jthrowable>(exception.get()));
    trace(" Done\n");
}

void throwErrorCode(JNIEnv* env, CK_RV rv) {
    if (rv >= CKR_VENDOR_DEFINED) {
        trace("JNI: Throwing exc number %lx...", rv);
        throwMessageException(env, "Internal error");
    } else if (rv == CKR_OK) {
        throwMessageException(env, "Unknown internal error");
    } else {
        throwCodeException(env, rv, false);
    }
}

void throwErrorCodeFlagged(JNIEnv* env, CK_RV rv) {
    if (rv == CKR_OK) {
        throwMessageException(env, "Unknown internal error");
        return;
    }
    throwCodeException(env, rv, true);
}
