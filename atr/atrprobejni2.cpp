// atrprobejni2: hands the ATR read by atrprobe to it.vantrel.tirvex.util.ATR as a byte array.
#include <jni.h>

#include "atrprobe.h"

#include <cstdio>

#if defined(_WIN32)
// Exported in its decorated stdcall form through the module-definition file.
#define ATR_JNI_EXPORT
#else
#define ATR_JNI_EXPORT JNIEXPORT
#endif

namespace {

const char* const exceptionClass = "it/vantrel/tirvex/util/ATRException";
constexpr int atrBufferSize = 36;
constexpr int longestAtr = 32;

// The exception carries the PC/SC code; when the class or constructor is missing, the JVM's
// own error from the lookup is what Java sees.
void throwCode(JNIEnv* env, int code) {
    jclass type = env->FindClass(exceptionClass);
    if (!type) return;
    jmethodID constructor = env->GetMethodID(type, "<init>", "(I)V");
    if (!constructor) return;
    jobject exception = env->NewObject(type, constructor, static_cast<jint>(code));
    if (!exception) return;
    env->Throw(static_cast<jthrowable>(exception));
}

void throwMessage(JNIEnv* env, const char* message) {
    jclass type = env->FindClass(exceptionClass);
    if (!type) return;
    env->ThrowNew(type, message);
}

}  // namespace

extern "C" ATR_JNI_EXPORT jbyteArray JNICALL Java_it_vantrel_tirvex_util_ATR_getATRdll(JNIEnv* env, jobject,
                                                                                       jboolean verbose) {
    const bool isVerbose = verbose == 1;
    unsigned char atr[atrBufferSize] = {};
    int atrLength = 0;
    const int code = getatrstr(isVerbose ? 1 : 0, atr, &atrLength);
    if (code != 0) {
        if (isVerbose) {
            std::printf("JNI: Throwing ATRexc.number %lx\n", static_cast<unsigned long>(static_cast<unsigned>(code)));
            std::fflush(stdout);
        }
        throwCode(env, code);
        return nullptr;
    }
    if (atrLength <= 0 || atrLength > longestAtr) {
        if (isVerbose) {
            std::printf("JNI: Unexpected ATR length %d\n", atrLength);
            std::fflush(stdout);
        }
        throwMessage(env, "Card not present or unexpected ATR length");
        return nullptr;
    }
    // When the array cannot be made, the JVM's OutOfMemoryError is already pending.
    jbyteArray bytes = env->NewByteArray(atrLength);
    if (!bytes) return nullptr;
    env->SetByteArrayRegion(bytes, 0, atrLength, reinterpret_cast<const jbyte*>(atr));
    return bytes;
}
