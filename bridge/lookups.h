// The Java classes and members the natives use, each looked up once per JVM on first use and
// kept until JNI_OnUnload. A look-up that fails keeps nothing: the JVM's error stays pending,
// and the next call tries again.
#pragma once

#include <jni.h>

// Every class the bridge names.
enum class JavaClass {
    Slot,
    Session,
    Object,
    Exception,
    Info,
    SlotInfo,
    TokenInfo,
    MechanismInfo,
    SessionInfo,
    String,
    ByteArray,
    Integer,
    Boolean,
    BigInteger,
    Date,
    DateFormat,
    JavaObject,
    Count
};

// Every constructor the bridge calls.
enum class JavaConstructor {
    Slot,
    Session,
    Object,
    ExceptionCode,
    ExceptionFlagged,
    Info,
    SlotInfo,
    TokenInfo,
    MechanismInfo,
    SessionInfo,
    Integer,
    Boolean,
    BigInteger,
    DateFormat,
    Count
};

// Every other method the bridge calls.
enum class JavaMethod { IntValue, BooleanValue, ToByteArray, FormatDate, ParseDate, Count };

// Every field the bridge reads, taken from the declared peer class so that subclasses of the
// peers read the same field.
enum class JavaField { SlotID, SessionID, ObjectID, ObjectSession, Count };

// Null, the JVM's error pending, when the class, member or object cannot be had.
jclass javaClass(JNIEnv* env, JavaClass which);
jmethodID javaMethod(JNIEnv* env, JavaMethod which);
jfieldID javaField(JNIEnv* env, JavaField which);

// The class and its constructor; false when either is missing.
bool findConstructor(JNIEnv* env, JavaConstructor which, jclass* cls, jmethodID* constructor);

// A new object built by the constructor from `args`.
template <typename... Args>
jobject newObject(JNIEnv* env, JavaConstructor which, Args... args) {
    jclass cls;
    jmethodID constructor;
    if (!findConstructor(env, which, &cls, &constructor)) return nullptr;
    return env->NewObject(cls, constructor, args...);
}

// Gives every kept reference back (JNI_OnUnload) and forgets every member.
void releaseLookups(JNIEnv* env);
