#include "guards.h"

#include <cstdlib>
#include <cstring>

#include "allocation.h"

JStringChars::JStringChars(JNIEnv* env, jstring text)
    : env_(env), text_(text), chars_(text != nullptr ? env->GetStringUTFChars(text, nullptr) : nullptr) {}

JStringChars::~JStringChars() { release(); }

void JStringChars::release() {
    if (chars_ != nullptr) env_->ReleaseStringUTFChars(text_, chars_);
    chars_ = nullptr;
}

bool NativeBytes::take(jsize length, bool zeroed) {
    release();
    if (length > stackLength) {
        bytes_ = static_cast<CK_BYTE_PTR>(allocateArrayCopy(static_cast<size_t>(length), zeroed));
        return bytes_ != nullptr;
    }
    bytes_ = stack_;
    if (zeroed) std::memset(stack_, 0, static_cast<size_t>(length));
    return true;
}

bool NativeBytes::reserve(jsize length) { return take(length, true); }

bool NativeBytes::copyIn(JNIEnv* env, jbyteArray array, jsize length) {
    if (!take(length, false)) return false;
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
