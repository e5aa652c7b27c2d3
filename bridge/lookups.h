// Looking up the Java classes and members the natives build results with.
#pragma once

#include <jni.h>

#include "guards.h"

// Finds a class and its constructor; false when either is missing (the JVM's error stays
// pending).
bool findConstructor(JNIEnv* env, const char* className, const char* signature, LocalRef<jclass>& cls,
                     jmethodID* constructor);

// A new object of the class, built by the constructor of that signature from `args`; null
// (the JVM's error pending) when the class, the constructor or the object cannot be had.
template <typename... Args>
jobject newObject(JNIEnv* env, const char* className, const char* signature, Args... args) {
    LocalRef<jclass> cls(env, nullptr);
    jmethodID constructor = nullptr;
    if (!findConstructor(env, className, signature, cls, &constructor)) return nullptr;
    return env->NewObject(cls.get(), constructor, args...);
}
