#include "guards.h"

#include <cstdlib>

#include "allocation.h"

JStringChars::JStringChars(JNIEnv* env, jstring text)
    : env_(env), text_(text), chars_(text != nullptr ? env->GetStringUTFChars(text, nullptr) : nullptr) {}

JStringChars::~JStringChars() { release(); }

void JStringChars::release() {
    if (chars_ != nullptr) env_->ReleaseStringUTFChars(text_, chars_);
    chars_ = nullptr;
}

bool NativeBytes::reserve(jsize length) {
    release();
    bytes_ = length <= stackLength ? stack_ : static_cast<CK_BYTE_PTR>(allocateArrayCopy(static_cast<size_t>(length)));
    return bytes_ != nullptr;
}

bool NativeBytes::copyIn(JNIEnv* env, jbyteArray array, jsize length) {
    if (!reserve(length)) return false;
    env->GetByteArrayRegion(array, 0, length, reinterpret_cast<jbyte*>(bytes_));
    if (!env->ExceptionCheck()) return true;
    release();
    return false;
}

bool NativeBytes::moveOut(JNIEnv* env, jbyteArray array, jsize length) {
    env->SetByteArrayRegion(array, 0, length, reinterpret_cast<const jbyte*>(bytes_));
    release();
    return !env->ExceptionCheck();
}

void NativeBytes::release() {
    if (bytes_ != stack_) std::free(bytes_);
    bytes_ = nullptr;
}
