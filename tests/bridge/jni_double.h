// A small JNI environment for the bridge's native units and fuzz targets: classes by name,
// strings, primitive and object arrays, instances with fields, and one pending exception.
// Only the functions the bridge's natives call are there; any other aborts, naming its slot.
// Every function checks its arguments as a checking JVM would (NewStringUTF takes modified
// UTF-8 only) and reports a call made on top of a pending exception. A test can make one call
// refuse, as a JVM out of memory does.
#pragma once

#include <jni.h>

#include <string>
#include <vector>

namespace jnidouble {

// A fresh environment: every earlier object, refusal and record is gone.
JNIEnv* reset();

// What a checking JVM would complain of; a fuzz target aborts on the first instead.
extern std::vector<std::string> problems;
extern bool abortOnProblem;
// Releases of characters and elements, in order: "ReleaseStringUTFChars <text>",
// "ReleaseByteArrayElements <hex>".
extern std::vector<std::string> releases;

// The `nth` call of `function` from now on gives null; NewObject is named with its class
// ("NewObject it/vantrel/pkcs11/nat/NativePKCS11Session"). An OutOfMemoryError is left
// pending unless `withoutException` (a JVM that refuses without saying why).
void refuse(const std::string& function, int nth = 1, bool withoutException = false);

// From now on the nth call that can fail (a look-up, an allocation, a method call) fails as a
// JVM's does: null or zero, with NoClassDefFoundError, NoSuchMethodError, NoSuchFieldError or
// OutOfMemoryError pending. callFaultPending tells whether that call is still to come.
void failCall(int nth);
bool callFaultPending();

// Local references a native holds: beginNative starts the count (a JVM frees them when a native
// returns), peakLocalRefs is the most it held at once. Weak global references live now.
void beginNative();
int peakLocalRefs();
int liveWeakGlobalRefs();

// Objects made so far, and dropping every object made after `mark` (the JVM's collector
// reclaiming a native's results once they are checked).
size_t objectCount();
void collect(size_t mark);

jstring newString(const std::u16string& units);
jbyteArray newByteArray(const std::vector<jbyte>& bytes);
jintArray newIntArray(const std::vector<jint>& ints);
jobjectArray newObjectArray(const std::vector<jobject>& elements);
// An instance of the class with one int field; `owner` (may be null) in the object field.
jobject newInstance(const char* className, const char* intField, jint value, const char* ownerField = nullptr,
                    jobject owner = nullptr);

std::u16string units(jstring text);
// Characters and elements handed out and not given back, as problems.
void checkAllReleased();
// The pending exception's class ("" when none) and its message or "code=<n>".
std::string pendingClass();
std::string pendingDetail();

}  // namespace jnidouble
