#include "guards.h"

JStringChars::JStringChars(JNIEnv* env, jstring text)
    : env_(env), text_(text), chars_(text != nullptr ? env->GetStringUTFChars(text, nullptr) : nullptr) {}

JStringChars::~JStringChars() { release(); }

void JStringChars::release() {
    if (chars_ != nullptr) env_->ReleaseStringUTFChars(text_, chars_);
    chars_ = nullptr;
}
