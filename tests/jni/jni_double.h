// A JNI environment and invocation interface of the tests' own, for the bridge's units, fault
// driver and fuzz targets, the service client's fault driver, and the Windows runs under Wine
// where no Java runtime exists: classes by name, strings, primitive and object arrays,
// instances with fields, one pending exception, and threads attaching and detaching.
//
// Only the functions our libraries call are there; any other ends the process, naming its
// slot. Every function checks its arguments as a checking JVM would (NewStringUTF takes
// modified UTF-8 only) and reports a call made on top of a pending exception or while an array
// is pinned. It counts what it hands out (local and weak global references, characters,
// elements, pinned arrays) and can fail any call that a JVM can fail, the way a JVM does.
#pragma once

#include <jni.h>

#include <string>
#include <vector>

namespace jnidouble {

// What the program using the double decides; every member may stay null (all classes and
// methods exist, the value classes answer as Java's do, nothing is journaled).
struct Method {
    std::string className;
    std::string name;
    std::string signature;
};
struct Behaviour {
    bool (*classExists)(const char* name) = nullptr;
    bool (*methodExists)(const char* className, const char* name, const char* signature) = nullptr;
    // Carries out Call<Type>Method on an instance; may call throwNew() and return zero.
    jvalue (*invoke)(jobject self, const Method& method, const std::vector<jvalue>& args) = nullptr;
    // One line per notable event ("FindClass <name>", "Throw <object>", "DetachCurrentThread
    // live=<n>", ...); the program decides where it goes.
    void (*journal)(const std::string& line) = nullptr;
};
void install(const Behaviour& behaviour);

// A fresh environment: every earlier object, refusal and record is gone; the behaviour stays.
// onReset, when set, runs first (the bridge's tests give its kept classes back there).
JNIEnv* reset();
extern void (*onReset)(JNIEnv* env);
JNIEnv* env();
JavaVM* vm();

// What a checking JVM would complain of; a fuzz target aborts on the first instead.
extern std::vector<std::string> problems;
extern bool abortOnProblem;
// Releases of characters and elements, in order: "ReleaseStringUTFChars <text>",
// "ReleaseByteArrayElements <hex>", "ReleasePrimitiveArrayCritical <hex>" (its last pin).
extern std::vector<std::string> releases;
// Both records emptied with the room they took, so that a driver can weigh the heap.
void forgetRecords();

// The `nth` call of `function` from now on gives null; NewObject is named with its class
// ("NewObject it/vantrel/pkcs11/nat/NativePKCS11Session"). An OutOfMemoryError is left
// pending unless `withoutException` (a JVM that refuses without saying why).
void refuse(const std::string& function, int nth = 1, bool withoutException = false);

// From now on the nth call that can fail (a look-up, an allocation, a method call, a thread's
// attach) fails as a JVM's does: null or zero, with NoClassDefFoundError, NoSuchMethodError,
// NoSuchFieldError or OutOfMemoryError pending (an attach answers JNI_ENOMEM). callFaultPending
// tells whether that call is still to come.
void failCall(int nth);
bool callFaultPending();
// AttachCurrentThread's answer from now on (JNI_OK by default).
void setAttachResult(jint result);

// Local references a native holds: beginNative starts the count (a JVM frees them when a native
// returns or its thread detaches), peakLocalRefs is the most it held at once.
void beginNative();
int liveLocalRefs();
int peakLocalRefs();
int liveWeakGlobalRefs();
// The collector takes every object only weak references hold now: those references read null.
void clearWeakGlobalRefs();
// Threads attached and not detached; local references still held at detaches, summed.
int attachedThreads();
int localRefsLeftAtDetach();

// Objects made so far, and dropping every object made after `mark` (the JVM's collector
// reclaiming a native's results once they are checked).
size_t objectCount();
void collect(size_t mark);

jstring newString(const std::u16string& units);
jstring newStringUtf(const std::string& modifiedUtf8);
jbyteArray newByteArray(const std::vector<jbyte>& bytes);
jintArray newIntArray(const std::vector<jint>& ints);
jobjectArray newObjectArray(const std::vector<jobject>& elements);
// An instance of the class with one int field; `owner` (may be null) in the object field.
jobject newInstance(const char* className, const char* intField, jint value, const char* ownerField = nullptr,
                    jobject owner = nullptr);
// Leaves an exception of the class with that message pending, as a Java method throwing it.
void throwNew(const char* className, const char* message);

std::u16string units(jstring text);
// "null", a string's text in quotes, an array with its elements, or an object with its
// constructor's arguments: "it/vantrel/pkcs11/PKCS11Exception(48)".
std::string describe(jobject ref);
// Characters and elements handed out (pinned arrays too) and not given back, as problems.
void checkAllReleased();
// The pending exception's class ("" when none) and its message or "code=<n>".
std::string pendingClass();
std::string pendingDetail();
jobject pendingException();

void journalf(const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 1, 2)))
#endif
    ;

}  // namespace jnidouble
