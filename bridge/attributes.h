// Java attribute values (type int + value object) to Cryptoki templates. Every value buffer
// is a heap copy owned by the template: nothing points into Java objects once built.
#pragma once

#include "frame.h"

// Fills one entry from a Java value; its class alone decides the encoding (String, byte[],
// Integer, Boolean, BigInteger, Date, tested in that order). True when the entry now owns a
// value buffer; false when the value was not converted (null or unsupported class, or a JVM
// failure whose exception stays pending) and the entry owns nothing.
bool objectToAttribute(JNIEnv* env, jint type, jobject value, CK_ATTRIBUTE* attribute);

// A non-null String as the entry's value (standard UTF-8, NUL after it, not counted); the
// type is left as it is. False after "Internal error (creating String)" or an out-of-memory
// message; the entry then owns nothing.
bool stringToAttribute(JNIEnv* env, jstring text, CK_ATTRIBUTE* attribute);

// Releases the value buffers of entries 0..count-1, then the array.
void freeTemplate(CK_ATTRIBUTE* templ, CK_ULONG count);

// A template built from Java arrays. It owns its entry array and the value buffers of its
// first `count` entries, exactly those converted so far, and releases them when it leaves
// scope: every way out of a native gives back what was taken, and nothing twice.
struct OwnedTemplate {
    CK_ATTRIBUTE* entries = nullptr;
    jsize capacity = 0;
    CK_ULONG count = 0;
    OwnedTemplate() = default;
    OwnedTemplate(const OwnedTemplate&) = delete;
    OwnedTemplate& operator=(const OwnedTemplate&) = delete;
    ~OwnedTemplate() { release(); }
    void release() {
        freeTemplate(entries, count);
        entries = nullptr;
        capacity = 0;
        count = 0;
    }
};

// Whether the conversion announces each step (generateKey's trace) or only a failed entry.
enum class TemplateSteps { Quiet, Traced };

// Room for `length` entries, none converted yet. Raises "Internal error: Out of memory" when
// it cannot be had; Traced writes "JNI: ckAttr OK" first, whether or not it could.
bool allocateTemplate(JNIEnv* env, jsize length, TemplateSteps steps, OwnedTemplate* templ);

// Converts the first `capacity` pairs of the arrays (each must hold that many) into the
// allocated template, giving the type array's elements back before it returns. A value that
// cannot be converted writes its index line and leaves the template empty again, with no
// exception of the bridge's own (the converter or the JVM may have raised one). When the JVM
// cannot give the type array's elements: "Internal error: Out of memory".
bool convertTemplate(JNIEnv* env, jintArray types, jobjectArray values, TemplateSteps steps, OwnedTemplate* templ);

// The whole template from two arrays of equal length ("Different array length" otherwise);
// a null array is refused with "Internal error (Null parameter)".
bool buildTemplate(JNIEnv* env, jintArray types, jobjectArray values, OwnedTemplate* templ);

// A new java.text.SimpleDateFormat for "yyyyMMdd" (the digits of a CK_DATE), or null with
// the JVM's error pending.
jobject newDateFormat(JNIEnv* env);

// Refuses a null array argument with "Internal error (Null parameter)"; true when present.
bool requireArray(JNIEnv* env, jarray array);
