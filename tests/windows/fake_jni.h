// A JNI environment and invocation interface of our own for the Windows runs under Wine, where
// no Java runtime exists: enough of the function table for what our libraries call, every other
// slot a trap that names its index and ends the process, and a count of live local references
// so that a run can show what a library forgot to release.
#pragma once

#include <jni.h>

#include <map>
#include <string>
#include <vector>

namespace fakejni {

// Everything a reference can stand for; references are never reused, so a stale one is seen.
struct Ref {
    enum Kind { Class, Object, String, Array } kind = Object;
    std::string className;     // the class, or the object's class
    std::string text;          // String: modified UTF-8
    std::string constructor;   // Object: constructor signature
    std::vector<jvalue> args;  // Object: constructor arguments
    std::vector<Ref*> elements;
    std::map<std::string, jvalue> fields;
};

struct Method {
    std::string className;
    std::string name;
    std::string signature;
};

// What the program using the double decides.
struct Behaviour {
    // Whether FindClass finds the class (else NoClassDefFoundError is pending).
    bool (*classExists)(const char* name) = nullptr;
    // Whether GetMethodID finds the method (else NoSuchMethodError is pending).
    bool (*methodExists)(const char* className, const char* name, const char* signature) = nullptr;
    // Carries out a Call<Type>Method; may call throwNew() and return zero.
    jvalue (*invoke)(Ref* self, const Method& method, const std::vector<jvalue>& args) = nullptr;
    // Receives one line per notable event (calls, errors); the program decides where it goes.
    void (*journal)(const std::string& line) = nullptr;
};

void install(const Behaviour& behaviour);
JNIEnv* env();
JavaVM* vm();

// For the behaviour and the program.
jstring newString(const std::string& text);
void throwNew(const char* className, const char* message);
Ref* pendingException();
int liveLocalRefs();
int liveWeakRefs();  // weak global references made and not deleted
// Forgets every live reference (the JVM does that when a native returns or a thread detaches).
void dropLocalRefs();
std::string describe(jobject ref);  // "null", a string's text in quotes, or the object with its arguments
void setAttachResult(jint result);  // AttachCurrentThread's answer from now on
void journalf(const char* format, ...);

}  // namespace fakejni
