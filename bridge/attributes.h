// Java attribute values (type int + value object) to Cryptoki templates. Every value buffer
// is a heap copy owned by the template: nothing points into Java objects once built.
#pragma once

#include "frame.h"

// Fills one entry from a Java value; its class alone decides the encoding (String, byte[],
// Integer, Boolean, BigInteger, Date, tested in that order). True when the entry now owns a
// value buffer; false when the value was not converted (null or unsupported class, or a JVM
// failure whose exception stays pending) and the entry owns nothing.
bool objectToAttribute(JNIEnv* env, jint type, jobject value, CK_ATTRIBUTE* attribute);

// Converts element 0..count-1 of the two Java arrays into `entries` (room for count). On a
// value that cannot be converted, writes the index trace line, releases the entries already
// converted and returns false. The arrays must hold at least `count` elements.
bool convertEntries(JNIEnv* env, jintArray types, jobjectArray values, CK_ATTRIBUTE* entries, jsize count);

// The whole template from two arrays of equal length. Raises "Different array length" or
// "Internal error: Out of memory"; a null array is refused with "Internal error (Null
// parameter)". On success the caller passes the template to freeTemplate after the module
// call.
bool buildTemplate(JNIEnv* env, jintArray types, jobjectArray values, CK_ATTRIBUTE** templ, CK_ULONG* count);

// Releases the value buffers of entries 0..count-1, then the array.
void freeTemplate(CK_ATTRIBUTE* templ, CK_ULONG count);

// A built template released when it leaves scope.
struct OwnedTemplate {
    CK_ATTRIBUTE* entries = nullptr;
    CK_ULONG count = 0;
    OwnedTemplate() = default;
    OwnedTemplate(const OwnedTemplate&) = delete;
    OwnedTemplate& operator=(const OwnedTemplate&) = delete;
    ~OwnedTemplate() {
        if (entries != nullptr) freeTemplate(entries, count);
    }
    bool build(JNIEnv* env, jintArray types, jobjectArray values) {
        return buildTemplate(env, types, values, &entries, &count);
    }
};

// A new java.text.SimpleDateFormat for "yyyyMMdd" (the digits of a CK_DATE), or null with
// the JVM's error pending.
jobject newDateFormat(JNIEnv* env, LocalRef<jclass>& formatClass);

// Refuses a null array argument with "Internal error (Null parameter)"; true when present.
bool requireArray(JNIEnv* env, jarray array);
