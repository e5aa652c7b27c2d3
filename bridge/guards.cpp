#include "guards.h"

JStringChars::JStringChars(JNIEnv* env, jstring text)
    : env_(env), text_(text), chars_(text != nullptr ? env->GetStringUTFChars(text, nullptr) : nullptr) {}

JStringChars::~JStringChars() { release(); }

void JStringChars::release() {
    if (chars_ != nullptr) env_->ReleaseStringUTFChars(text_, chars_);
    chars_ = nullptr;
}

ByteArrayBuffer::ByteArrayBuffer(JNIEnv* env, jbyteArray array, jint releaseMode)
    : env_(env), array_(array), elements_(nullptr), length_(0), releaseMode_(releaseMode) {
    if (array == nullptr) return;
    length_ = env->GetArrayLength(array);
    if (length_ <= stackLength) {
        env->GetByteArrayRegion(array, 0, length_, stack_);
        elements_ = stack_;
        return;
    }
    elements_ = env->GetByteArrayElements(array, nullptr);
    if (elements_ == nullptr) length_ = 0;
}

void ByteArrayBuffer::release() {
    if (elements_ == stack_) {
        // The JVM's own copy-back may happen under a pending exception, SetByteArrayRegion may
        // not; a native raises only before the module wrote into the copy, so nothing is lost.
        if (releaseMode_ != JNI_ABORT && !env_->ExceptionCheck()) env_->SetByteArrayRegion(array_, 0, length_, stack_);
    } else if (elements_ != nullptr) {
        env_->ReleaseByteArrayElements(array_, elements_, releaseMode_);
    }
    elements_ = nullptr;
}
