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

bool NativeBytes::copyIn(JNIEnv* env, jbyteArray array, jsize length) {
    release();
    bytes_ = length > stackLength ? static_cast<CK_BYTE_PTR>(allocateArrayCopy(static_cast<size_t>(length))) : stack_;
    if (bytes_ == nullptr) return false;
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

bool PinnedArrays::pin(jbyteArray input, jsize inputLength, jbyteArray output) {
    release();
    bool copied = output != nullptr && env_->IsSameObject(input, output);
    if (copied && !inputCopy_.copyIn(env_, input, inputLength)) return false;
    // Pinned from here: no JNI call but pinning and releasing.
    if (copied) {
        input_ = inputCopy_.bytes();
    } else {
        input_ = static_cast<CK_BYTE_PTR>(env_->GetPrimitiveArrayCritical(input, nullptr));
        if (input_ == nullptr) return false;
        inputArray_ = input;
    }
    if (output == nullptr) return true;
    output_ = static_cast<CK_BYTE_PTR>(env_->GetPrimitiveArrayCritical(output, nullptr));
    if (output_ != nullptr) {
        outputArray_ = output;
        return true;
    }
    release();
    return false;
}

void PinnedArrays::release() {
    if (output_ != nullptr) env_->ReleasePrimitiveArrayCritical(outputArray_, output_, 0);
    if (inputArray_ != nullptr) env_->ReleasePrimitiveArrayCritical(inputArray_, input_, JNI_ABORT);
    inputCopy_.release();
    input_ = output_ = nullptr;
    inputArray_ = outputArray_ = nullptr;
}
