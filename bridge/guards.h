// Guards for what a native takes from the JVM: each gives it back when it leaves scope, so
// releases happen in reverse order of acquisition, as the natives need.
#pragma once

#include <jni.h>

#include "cryptoki.h"

// Modified UTF-8 characters of a Java string; chars() is null for a null string or when the
// JVM could not provide them.
class JStringChars {
public:
    JStringChars(JNIEnv* env, jstring text);
    ~JStringChars();
    JStringChars(const JStringChars&) = delete;
    JStringChars& operator=(const JStringChars&) = delete;
    const char* chars() const { return chars_; }
    CK_UTF8CHAR_PTR bytes() const { return reinterpret_cast<CK_UTF8CHAR_PTR>(const_cast<char*>(chars_)); }
    // Gives the characters back now, for natives that release in the order they took;
    // later calls do nothing.
    void release();

private:
    JNIEnv* env_;
    jstring text_;
    const char* chars_;
};

// How the JVM hands out and takes back the elements of each primitive array type.
inline jbyte* getArrayElements(JNIEnv* env, jbyteArray array) { return env->GetByteArrayElements(array, nullptr); }
inline jint* getArrayElements(JNIEnv* env, jintArray array) { return env->GetIntArrayElements(array, nullptr); }
inline void releaseArrayElements(JNIEnv* env, jbyteArray array, jbyte* elements, jint mode) {
    env->ReleaseByteArrayElements(array, elements, mode);
}
inline void releaseArrayElements(JNIEnv* env, jintArray array, jint* elements, jint mode) {
    env->ReleaseIntArrayElements(array, elements, mode);
}

// Elements of a Java primitive array, released with the given mode (0 copies back, JNI_ABORT
// does not). get() is null for a null array or when the JVM could not provide them.
template <typename Array, typename Element>
class ArrayElements {
public:
    ArrayElements(JNIEnv* env, Array array, jint releaseMode)
        : env_(env), array_(array), elements_(nullptr), length_(0), releaseMode_(releaseMode) {
        if (array == nullptr) return;
        length_ = env->GetArrayLength(array);
        elements_ = getArrayElements(env, array);
        if (elements_ == nullptr) length_ = 0;
    }
    ~ArrayElements() { release(); }
    ArrayElements(const ArrayElements&) = delete;
    ArrayElements& operator=(const ArrayElements&) = delete;
    Element* get() const { return elements_; }
    CK_BYTE_PTR bytes() const { return reinterpret_cast<CK_BYTE_PTR>(elements_); }
    jsize length() const { return length_; }
    // Gives the elements back now (mode as constructed); later calls do nothing.
    void release() {
        if (elements_ != nullptr) releaseArrayElements(env_, array_, elements_, releaseMode_);
        elements_ = nullptr;
    }

private:
    JNIEnv* env_;
    Array array_;
    Element* elements_;
    jsize length_;
    jint releaseMode_;
};

using ByteArrayElements = ArrayElements<jbyteArray, jbyte>;
using IntArrayElements = ArrayElements<jintArray, jint>;

// A native copy of bytes of a Java byte array, for the module to read or to write: on the stack
// when short, else one heap block, given back when released or out of scope. Only the bytes the
// module reads are copied in and only those it produced are copied out, so a call moves each
// byte once each way and never writes an input back.
class NativeBytes {
public:
    NativeBytes() = default;
    ~NativeBytes() { release(); }
    NativeBytes(const NativeBytes&) = delete;
    NativeBytes& operator=(const NativeBytes&) = delete;
    // The first `length` bytes of `array` (which must hold them) in new room; as an output's
    // room, bytes the module does not write keep the array's former contents. False when the
    // heap cannot give it or the JVM raised.
    bool copyIn(JNIEnv* env, jbyteArray array, jsize length);
    // The first `length` bytes to the start of `array` (which must hold them); the room is
    // given back at once. False when the JVM raised.
    bool moveOut(JNIEnv* env, jbyteArray array, jsize length);
    CK_BYTE_PTR bytes() const { return bytes_; }
    void release();

private:
    static constexpr jsize stackLength = 512;  // an RSA-4096 signature
    CK_BYTE_PTR bytes_ = nullptr;
    CK_BYTE stack_[stackLength];
};

// The input and the output array of one module call, pinned: the module reads and writes the
// Java arrays themselves, and no byte is copied. Pinning holds off the JVM's collector, so it
// lasts for the module call only: pin() makes every JNI call it needs before it pins, and
// release() (output committed, then input given back unwritten) comes before any further JNI
// call; nothing in between may call into the JVM. An input that is also the output is read from
// a native copy, so the module never gets overlapping buffers. Natives run under the bridge's
// process-wide lock, so only its holder ever pins: pinning cannot deadlock with it.
class PinnedArrays {
public:
    explicit PinnedArrays(JNIEnv* env) : env_(env) {}
    ~PinnedArrays() { release(); }
    PinnedArrays(const PinnedArrays&) = delete;
    PinnedArrays& operator=(const PinnedArrays&) = delete;
    // The first `inputLength` bytes of `input` (which must hold them) and, when not null,
    // `output`. False, with nothing held, when the heap or the JVM could not give them.
    bool pin(jbyteArray input, jsize inputLength, jbyteArray output);
    CK_BYTE_PTR input() const { return input_; }
    CK_BYTE_PTR output() const { return output_; }
    void release();

private:
    JNIEnv* env_;
    jbyteArray inputArray_ = nullptr;
    jbyteArray outputArray_ = nullptr;
    CK_BYTE_PTR input_ = nullptr;
    CK_BYTE_PTR output_ = nullptr;
    NativeBytes inputCopy_;
};

// A local reference deleted when it leaves scope.
template <typename T>
class LocalRef {
public:
    LocalRef(JNIEnv* env, T ref) : env_(env), ref_(ref) {}
    ~LocalRef() {
        if (ref_ != nullptr) env_->DeleteLocalRef(ref_);
    }
    LocalRef(const LocalRef&) = delete;
    LocalRef& operator=(const LocalRef&) = delete;
    T get() const { return ref_; }
    explicit operator bool() const { return ref_ != nullptr; }
    void reset(T ref) {
        if (ref_ != nullptr) env_->DeleteLocalRef(ref_);
        ref_ = ref;
    }
    T release() {
        T ref = ref_;
        ref_ = nullptr;
        return ref;
    }

private:
    JNIEnv* env_;
    T ref_;
};
