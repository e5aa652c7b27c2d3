// Attribute template marshalling: Java values to CK_ATTRIBUTE entries and back to the heap.
#include "attributes.h"

#include <cstring>

// A fresh value buffer of `length` bytes for the entry. Raises "Internal error: Out of
// memory" when it cannot be had.
static bool allocateValue(JNIEnv* env, CK_ATTRIBUTE* attribute, size_t length) {
    void* buffer = allocateElements(length, 1);
    if (buffer == nullptr) {
        throwMessageException(env, "Internal error: Out of memory");
        return false;
    }
    attribute->pValue = buffer;
    attribute->ulValueLen = static_cast<CK_ULONG>(length);
    return true;
}

static bool setValueCopy(JNIEnv* env, CK_ATTRIBUTE* attribute, const void* source, size_t length) {
    if (!allocateValue(env, attribute, length)) return false;
    if (length > 0) std::memcpy(attribute->pValue, source, length);
    return true;
}

// The string as standard UTF-8 (what CK_UTF8CHAR means, and what every other program reads)
// and a terminating NUL that the length does not count.
bool stringToAttribute(JNIEnv* env, jstring text, CK_ATTRIBUTE* attribute) {
    JStringChars chars(env, text);
    if (chars.chars() == nullptr) {
        throwInsteadOfPending(env, "Internal error (creating String)");
        return false;
    }
    size_t modifiedLength = std::strlen(chars.chars());
    size_t length = modifiedToStandardUtf8(chars.chars(), modifiedLength, nullptr);
    if (!allocateValue(env, attribute, length + 1)) return false;
    CK_BYTE* value = static_cast<CK_BYTE*>(attribute->pValue);
    modifiedToStandardUtf8(chars.chars(), modifiedLength, value);
    value[length] = 0;
    attribute->ulValueLen = static_cast<CK_ULONG>(length);
    return true;
}

static bool convertByteArray(JNIEnv* env, jbyteArray array, CK_ATTRIBUTE* attribute) {
    jsize length = env->GetArrayLength(array);
    if (!allocateValue(env, attribute, static_cast<size_t>(length))) return false;
    env->GetByteArrayRegion(array, 0, length, static_cast<jbyte*>(attribute->pValue));
    return true;
}

static bool convertInteger(JNIEnv* env, jobject value, CK_ATTRIBUTE* attribute) {
    jmethodID intValue = javaMethod(env, JavaMethod::IntValue);
    if (intValue == nullptr) return false;
    // One CK_ULONG of the target holding the int's 32 bits (zero-extended where it is wider).
    CK_ULONG number = jintToUlong(env->CallIntMethod(value, intValue));
    if (env->ExceptionCheck()) return false;
    return setValueCopy(env, attribute, &number, sizeof number);
}

static bool convertBoolean(JNIEnv* env, jobject value, CK_ATTRIBUTE* attribute) {
    jmethodID booleanValue = javaMethod(env, JavaMethod::BooleanValue);
    if (booleanValue == nullptr) return false;
    CK_BBOOL flag = env->CallBooleanMethod(value, booleanValue) ? CK_TRUE : CK_FALSE;
    if (env->ExceptionCheck()) return false;
    return setValueCopy(env, attribute, &flag, 1);
}

// Big-endian two's complement; only the sign byte 0x00 that toByteArray puts before a
// positive number with its top bit set is dropped (zero thus becomes an empty value).
static bool convertBigInteger(JNIEnv* env, jobject value, CK_ATTRIBUTE* attribute) {
    jmethodID toByteArray = javaMethod(env, JavaMethod::ToByteArray);
    if (toByteArray == nullptr) return false;
    LocalRef<jbyteArray> bytes(env, static_cast<jbyteArray>(env->CallObjectMethod(value, toByteArray)));
    if (env->ExceptionCheck() || !bytes) return false;
    if (!convertByteArray(env, bytes.get(), attribute)) return false;
    CK_BYTE* copy = static_cast<CK_BYTE*>(attribute->pValue);
    if (attribute->ulValueLen > 0 && copy[0] == 0x00) {
        bool converted = setValueCopy(env, attribute, copy + 1, attribute->ulValueLen - 1);
        std::free(copy);
        return converted;
    }
    return true;
}

jobject newDateFormat(JNIEnv* env) {
    jclass formatClass;
    jmethodID constructor;
    if (!findConstructor(env, JavaConstructor::DateFormat, &formatClass, &constructor)) return nullptr;
    LocalRef<jstring> pattern(env, env->NewStringUTF("yyyyMMdd"));
    if (!pattern) return nullptr;
    return env->NewObject(formatClass, constructor, pattern.get());
}

// The date's digits "yyyyMMdd" in the JVM's default time zone, then stored as a String.
static bool convertDate(JNIEnv* env, jint type, jobject value, CK_ATTRIBUTE* attribute) {
    LocalRef<jobject> formatter(env, newDateFormat(env));
    if (!formatter) return false;
    jmethodID format = javaMethod(env, JavaMethod::FormatDate);
    if (format == nullptr) return false;
    LocalRef<jobject> text(env, env->CallObjectMethod(formatter.get(), format, value));
    if (env->ExceptionCheck() || !text) return false;
    return objectToAttribute(env, type, text.get(), attribute);
}

bool objectToAttribute(JNIEnv* env, jint type, jobject value, CK_ATTRIBUTE* attribute) {
    attribute->type = jintToUlong(type);
    attribute->pValue = nullptr;
    attribute->ulValueLen = 0;
    // A null value would pass every IsInstanceOf test; it is no supported value.
    if (value == nullptr) return false;
    // The classes in the order they are tried; the first match decides the encoding.
    static const JavaClass classes[] = {JavaClass::String,  JavaClass::ByteArray,  JavaClass::Integer,
                                        JavaClass::Boolean, JavaClass::BigInteger, JavaClass::Date};
    for (size_t kind = 0; kind < sizeof classes / sizeof classes[0]; kind++) {
        jclass cls = javaClass(env, classes[kind]);
        if (cls == nullptr) return false;  // the JVM's error stays pending
        if (!env->IsInstanceOf(value, cls)) continue;
        switch (kind) {
            case 0: return stringToAttribute(env, static_cast<jstring>(value), attribute);
            case 1: return convertByteArray(env, static_cast<jbyteArray>(value), attribute);
            case 2: return convertInteger(env, value, attribute);
            case 3: return convertBoolean(env, value, attribute);
            case 4: return convertBigInteger(env, value, attribute);
            default: return convertDate(env, type, value, attribute);
        }
    }
    return false;
}

bool requireArray(JNIEnv* env, jarray array) {
    if (array != nullptr) return true;
    throwMessageException(env, "Internal error (Null parameter)");
    return false;
}

bool allocateTemplate(JNIEnv* env, jsize length, TemplateSteps steps, OwnedTemplate* templ) {
    templ->release();
    templ->entries = static_cast<CK_ATTRIBUTE*>(allocateElements(static_cast<size_t>(length), sizeof(CK_ATTRIBUTE)));
    if (steps == TemplateSteps::Traced) trace("JNI: ckAttr OK\n");
    if (templ->entries == nullptr) {
        throwMessageException(env, "Internal error: Out of memory");
        return false;
    }
    templ->capacity = length;
    return true;
}

bool convertTemplate(JNIEnv* env, jintArray types, jobjectArray values, TemplateSteps steps, OwnedTemplate* templ) {
    bool traced = steps == TemplateSteps::Traced;
    IntArrayElements typeElements(env, types, JNI_ABORT);
    if (templ->capacity > 0 && typeElements.get() == nullptr) {
        throwInsteadOfPending(env, "Internal error: Out of memory");
        return false;
    }
    if (traced) trace("JNI: attrA OK\n");
    for (jsize i = 0; i < templ->capacity; i++) {
        if (traced) trace("JNI: inside loop\n");
        LocalRef<jobject> value(env, env->GetObjectArrayElement(values, i));
        if (traced) trace("JNI: temp1 OK\n");
        bool converted = objectToAttribute(env, typeElements.get()[i], value.get(), &templ->entries[i]);
        if (traced) trace("JNI: res?...");
        if (!converted) {
            if (traced) trace("... KO\n");
            trace("\nERROR: cannot parse passed object %li\n", static_cast<long>(i));
            typeElements.release();
            templ->release();
            return false;
        }
        templ->count = static_cast<CK_ULONG>(i) + 1;
        if (traced) trace("... OK\n");
    }
    if (traced) trace("JNI: array OK\n");
    return true;
}

bool buildTemplate(JNIEnv* env, jintArray types, jobjectArray values, OwnedTemplate* templ) {
    if (!requireArray(env, types) || !requireArray(env, values)) return false;
    jsize length = env->GetArrayLength(types);
    if (length != env->GetArrayLength(values)) {
        throwMessageException(env, "Different array length");
        return false;
    }
    return allocateTemplate(env, length, TemplateSteps::Quiet, templ) &&
           convertTemplate(env, types, values, TemplateSteps::Quiet, templ);
}

void freeTemplate(CK_ATTRIBUTE* templ, CK_ULONG count) {
    if (templ == nullptr) return;
    for (CK_ULONG i = 0; i < count; i++) std::free(templ[i].pValue);
    std::free(templ);
}
