// Natives of NativePKCS11Object: destroy, size, typed and automatic attribute reads, writes.
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "attributes.h"

// Standard attribute types the type lists need beyond the shared declarations.
constexpr CK_ATTRIBUTE_TYPE CKA_PRIME = 0x130;
constexpr CK_ATTRIBUTE_TYPE CKA_SUBPRIME = 0x131;
constexpr CK_ATTRIBUTE_TYPE CKA_BASE = 0x132;
constexpr CK_ATTRIBUTE_TYPE CKA_EC_PARAMS = 0x180;
constexpr CK_ATTRIBUTE_TYPE CKA_EC_POINT = 0x181;

// ---- Type lists of getAttributeValue ------------------------------------------------------

enum class ValueKind { Int, Boolean, String, ByteArray, Date, BigInteger, None };

struct TypeList {
    ValueKind kind;
    std::vector<CK_ATTRIBUTE_TYPE> types;
};

// The lists are fixed tables of 17 places whose unused places hold 0xFFFFFFFF, so that
// value counts as a member of every list that is not full (the int list is tried first).
static const size_t typeListPlaces = 17;
static const CK_ATTRIBUTE_TYPE unusedPlace = 0xFFFFFFFFUL;

static const TypeList typeLists[] = {
    {ValueKind::Int, {CKA_CLASS, CKA_CERTIFICATE_TYPE, CKA_KEY_TYPE, CKA_MODULUS_BITS, CKA_VALUE_BITS, CKA_VALUE_LEN}},
    {ValueKind::Boolean,
     {CKA_TOKEN, CKA_PRIVATE, CKA_SENSITIVE, CKA_ENCRYPT, CKA_DECRYPT, CKA_WRAP, CKA_UNWRAP, CKA_SIGN, CKA_SIGN_RECOVER,
      CKA_VERIFY, CKA_VERIFY_RECOVER, CKA_DERIVE, CKA_EXTRACTABLE, CKA_LOCAL, CKA_NEVER_EXTRACTABLE,
      CKA_ALWAYS_SENSITIVE, CKA_MODIFIABLE}},
    {ValueKind::String, {CKA_LABEL, CKA_APPLICATION}},
    {ValueKind::ByteArray,
     {CKA_VALUE, CKA_ISSUER, CKA_SERIAL_NUMBER, CKA_SUBJECT, CKA_ID, CKA_EC_PARAMS, CKA_EC_POINT}},
    // The second date type is the start date: the counterpart of the end date, which
    // getDateAttributeValue reads just as well.
    {ValueKind::Date, {CKA_END_DATE, CKA_START_DATE}},
    {ValueKind::BigInteger,
     {CKA_MODULUS, CKA_PUBLIC_EXPONENT, CKA_PRIVATE_EXPONENT, CKA_PRIME_1, CKA_PRIME_2, CKA_EXPONENT_1, CKA_EXPONENT_2,
      CKA_COEFFICIENT, CKA_PRIME, CKA_SUBPRIME, CKA_BASE}},
};

static ValueKind kindOfType(CK_ATTRIBUTE_TYPE type) {
    for (const TypeList& list : typeLists) {
        if (type == unusedPlace && list.types.size() < typeListPlaces) return list.kind;
        for (CK_ATTRIBUTE_TYPE member : list.types)
            if (member == type) return list.kind;
    }
    return ValueKind::None;
}

// ---- Common start ---------------------------------------------------------------------------

struct ObjectHandles {
    CK_OBJECT_HANDLE object;
    CK_SESSION_HANDLE session;
};

// Start trace, both handles from the peer, and (unless `traceHandles` is false) their line.
static bool enterObjectCall(JNIEnv* env, jobject self, ObjectHandles* handles, bool traceHandles,
                            const char* startFormat, ...) BRIDGE_PRINTF_FORMAT(5, 6);

static bool enterObjectCall(JNIEnv* env, jobject self, ObjectHandles* handles, bool traceHandles,
                            const char* startFormat, ...) {
    va_list args;
    va_start(args, startFormat);
    traceArgs(startFormat, args);
    va_end(args);
    if (!getObjectHandle(env, self, &handles->object) || !getObjectSessionHandle(env, self, &handles->session))
        return false;
    if (traceHandles) trace("(obj= %li)(ses=%li)\n", handles->object, handles->session);
    return true;
}

// One attribute value fetched from the module: length + 1 bytes, zero after the value.
struct FetchedValue {
    CK_ATTRIBUTE attribute = {};
    FetchedValue() = default;
    FetchedValue(const FetchedValue&) = delete;
    FetchedValue& operator=(const FetchedValue&) = delete;
    ~FetchedValue() { std::free(attribute.pValue); }
    const CK_BYTE* bytes() const { return static_cast<const CK_BYTE*>(attribute.pValue); }
    CK_ULONG length() const { return attribute.ulValueLen; }
};

static const char* const getAttrStart = "JNI: start PKCS11Object.getAttr(%li)... ";

// The common start of a getter and the two-call read; a failure is raised.
static bool readAttribute(JNIEnv* env, jobject self, jint type, FetchedValue* fetched,
                          const char* startFormat = getAttrStart, bool traceHandles = true) {
    ObjectHandles handles;
    CK_ULONG attributeType = jintToUlong(type);
    if (!enterObjectCall(env, self, &handles, traceHandles, startFormat, attributeType)) return false;
    fetched->attribute.type = attributeType;
    CK_RV rv = bridgeGetAttributeValue(handles.session, handles.object, &fetched->attribute);
    return !throwIfFailed(env, rv);
}

// ---- Typed getters ----------------------------------------------------------------------------

static jboolean readBool(JNIEnv* env, jobject self, jint type) {
    FetchedValue value;
    if (!readAttribute(env, self, type, &value)) return JNI_FALSE;
    if (value.length() == 0) {
        throwMessageException(env, "VOID boolean field");
        return JNI_FALSE;
    }
    return value.bytes()[0] != 0 ? JNI_TRUE : JNI_FALSE;
}

static jint readInt(JNIEnv* env, jobject self, jint type) {
    FetchedValue value;
    if (!readAttribute(env, self, type, &value)) return -1;
    if (value.length() == 0) {
        throwMessageException(env, "VOID int field");
        return -1;
    }
    // Anything shorter than one CK_ULONG is no number of this target: reading it would run
    // past the value.
    if (value.length() < sizeof(CK_ULONG)) {
        throwMessageException(env, "Invalid int field");
        return -1;
    }
    CK_ULONG number;
    std::memcpy(&number, value.bytes(), sizeof number);
    return ulongToJint(number);
}

BRIDGE_NATIVE(jboolean)
Java_it_vantrel_pkcs11_nat_NativePKCS11Object_getBoolAttributeValue(JNIEnv* env, jobject self, jint type) {
    const BridgeLockHold hold;
    return readBool(env, self, type);
}

BRIDGE_NATIVE(jint)
Java_it_vantrel_pkcs11_nat_NativePKCS11Object_getIntAttributeValue(JNIEnv* env, jobject self, jint type) {
    const BridgeLockHold hold;
    return readInt(env, self, type);
}

BRIDGE_NATIVE(jstring)
Java_it_vantrel_pkcs11_nat_NativePKCS11Object_getStringAttributeValue(JNIEnv* env, jobject self, jint type) {
    const BridgeLockHold hold;
    FetchedValue value;
    if (!readAttribute(env, self, type, &value)) return nullptr;
    return utf8ToJString(env, value.bytes(), value.length());
}

BRIDGE_NATIVE(jbyteArray)
Java_it_vantrel_pkcs11_nat_NativePKCS11Object_getByteArrayAttributeValue(JNIEnv* env, jobject self, jint type) {
    const BridgeLockHold hold;
    FetchedValue value;
    if (!readAttribute(env, self, type, &value)) return nullptr;
    jsize length = static_cast<jsize>(value.length());
    jbyteArray array = env->NewByteArray(length);
    if (array == nullptr) return nullptr;
    env->SetByteArrayRegion(array, 0, length, reinterpret_cast<const jbyte*>(value.bytes()));
    return array;
}

BRIDGE_NATIVE(jobject)
Java_it_vantrel_pkcs11_nat_NativePKCS11Object_getBigIntegerAttributeValue(JNIEnv* env, jobject self, jint type) {
    const BridgeLockHold hold;
    FetchedValue value;
    if (!readAttribute(env, self, type, &value)) return nullptr;
    if (value.length() == 0) {
        throwMessageException(env, "VOID BigInteger field");
        return nullptr;
    }
    trace("JNI: creating jobject BigInteger...");
    // A leading zero byte makes the value an unsigned magnitude: never negative.
    jsize length = static_cast<jsize>(value.length());
    LocalRef<jbyteArray> magnitude(env, env->NewByteArray(length + 1));
    if (!magnitude) return nullptr;
    env->SetByteArrayRegion(magnitude.get(), 1, length, reinterpret_cast<const jbyte*>(value.bytes()));
    jobject number = newObject(env, JavaConstructor::BigInteger, magnitude.get());
    if (number == nullptr) return nullptr;
    trace("OK\n");
    return number;
}

static const CK_ULONG dateLength = 8;

BRIDGE_NATIVE(jobject)
Java_it_vantrel_pkcs11_nat_NativePKCS11Object_getDateAttributeValue(JNIEnv* env, jobject self, jint type) {
    const BridgeLockHold hold;
    FetchedValue value;
    if (!readAttribute(env, self, type, &value, "JNI: start PKCS11Object.getDateAttr(%li)... ", false)) return nullptr;
    if (value.length() == 0) {
        throwMessageException(env, "VOID Date field");
        return nullptr;
    }
    if (value.bytes()[0] == 0) {
        trace("strelen(ckDatePtr) = 0!\n");
        throwMessageException(env, "VOID Date field");
        return nullptr;
    }
    // A CK_DATE has exactly eight places; other lengths are no date and must not be read.
    if (value.length() != dateLength) {
        throwMessageException(env, "Invalid Date field");
        return nullptr;
    }
    CK_BYTE digits[dateLength];
    std::memcpy(digits, value.bytes(), dateLength);
    // Some tokens keep the digits as the numbers 0 to 9 rather than as characters.
    if (digits[0] >= 1 && digits[0] <= 9)
        for (CK_BYTE& digit : digits) digit = static_cast<CK_BYTE>(digit + 0x30);
    LocalRef<jstring> text(env, utf8ToJString(env, digits, dateLength));
    if (!text) return nullptr;
    trace("JNI: creating jobject Date...");
    LocalRef<jobject> formatter(env, newDateFormat(env));
    if (!formatter) return nullptr;
    jmethodID parse = javaMethod(env, JavaMethod::ParseDate);
    if (parse == nullptr) return nullptr;
    jobject date = env->CallObjectMethod(formatter.get(), parse, text.get());
    if (env->ExceptionCheck() || date == nullptr) return nullptr;  // ParseException reaches the caller
    trace("OK\n");
    return date;
}

// ---- Automatic read -----------------------------------------------------------------------------

// Wraps an int or boolean result of a typed getter unless that getter raised.
template <typename Value>
static jobject boxValue(JNIEnv* env, Value value, const char* traceText, JavaConstructor box) {
    if (env->ExceptionCheck()) return nullptr;
    trace("%s", traceText);
    jobject boxed = newObject(env, box, value);
    if (boxed == nullptr) return nullptr;
    trace("OK\n");
    return boxed;
}

BRIDGE_NATIVE(jobject)
Java_it_vantrel_pkcs11_nat_NativePKCS11Object_getAttributeValue(JNIEnv* env, jobject self, jint type) {
    const BridgeLockHold hold;
    switch (kindOfType(jintToUlong(type))) {
        case ValueKind::Int:
            return boxValue(env, readInt(env, self, type), "JNI: creating jobject Integer...",
                            JavaConstructor::Integer);
        case ValueKind::Boolean:
            return boxValue(env, readBool(env, self, type), "JNI: creating jobject Boolean...",
                            JavaConstructor::Boolean);
        case ValueKind::String:
            return Java_it_vantrel_pkcs11_nat_NativePKCS11Object_getStringAttributeValue(env, self, type);
        case ValueKind::ByteArray:
            return Java_it_vantrel_pkcs11_nat_NativePKCS11Object_getByteArrayAttributeValue(env, self, type);
        case ValueKind::Date:
            return Java_it_vantrel_pkcs11_nat_NativePKCS11Object_getDateAttributeValue(env, self, type);
        case ValueKind::BigInteger:
            return Java_it_vantrel_pkcs11_nat_NativePKCS11Object_getBigIntegerAttributeValue(env, self, type);
        case ValueKind::None: break;
    }
    throwMessageException(env, "Object type not valid");
    return nullptr;
}

// ---- Object calls and setters ------------------------------------------------------------------

BRIDGE_REFUSED_NATIVE(jobject, Java_it_vantrel_pkcs11_nat_NativePKCS11Object_copy, notSupportedMessage, nullptr,
                      jobject, jintArray, jobjectArray)

BRIDGE_NATIVE(void) Java_it_vantrel_pkcs11_nat_NativePKCS11Object_destroy(JNIEnv* env, jobject self) {
    const BridgeLockHold hold;
    ObjectHandles handles;
    if (!enterObjectCall(env, self, &handles, true, "JNI: start PKCS11Object.destroy... ")) return;
    CK_RV rv = bridgeDestroyObject(handles.session, handles.object);
    throwIfFailed(env, rv);
}

BRIDGE_NATIVE(jint) Java_it_vantrel_pkcs11_nat_NativePKCS11Object_size(JNIEnv* env, jobject self) {
    const BridgeLockHold hold;
    ObjectHandles handles;
    if (!enterObjectCall(env, self, &handles, true, "JNI: start PKCS11Object.size... ")) return -1;
    CK_ULONG size = 0;
    CK_RV rv = bridgeGetObjectSize(handles.session, handles.object, &size);
    if (throwIfFailed(env, rv)) return -1;
    return ulongToJint(size);
}

static const char* const setAttrStart = "JNI: start PKCS11Object.setAttr(%li)... ";

// One entry (or a whole template) written to the object; a failure is raised.
static void writeAttributes(JNIEnv* env, const ObjectHandles& handles, CK_ATTRIBUTE* entries, CK_ULONG count) {
    CK_RV rv = bridgeSetAttributeValue(handles.session, handles.object, entries, count);
    throwIfFailed(env, rv);
}

BRIDGE_NATIVE(void)
Java_it_vantrel_pkcs11_nat_NativePKCS11Object_setAttributeValue(JNIEnv* env, jobject self, jint type, jobject value) {
    const BridgeLockHold hold;
    ObjectHandles handles;
    if (!enterObjectCall(env, self, &handles, true, setAttrStart, jintToUlong(type))) return;
    CK_ATTRIBUTE attribute;
    if (!objectToAttribute(env, type, value, &attribute)) {
        trace("\nERROR: cannot parse passed object\n");
        return;
    }
    std::unique_ptr<void, FreeDeleter> buffer(attribute.pValue);
    writeAttributes(env, handles, &attribute, 1);
}

BRIDGE_NATIVE(void)
Java_it_vantrel_pkcs11_nat_NativePKCS11Object_setAttributeValues(JNIEnv* env, jobject self, jintArray types,
                                                                 jobjectArray values) {
    const BridgeLockHold hold;
    ObjectHandles handles;
    if (!enterObjectCall(env, self, &handles, true, "JNI: start PKCS11Object.setAttrValues... ")) return;
    OwnedTemplate templ;
    if (!buildTemplate(env, types, values, &templ)) return;
    writeAttributes(env, handles, templ.entries, templ.count);
}

// setBool/setInt: one entry whose value lives on the caller's stack.
static void writeSingleValue(JNIEnv* env, jobject self, jint type, void* value, CK_ULONG length) {
    ObjectHandles handles;
    if (!enterObjectCall(env, self, &handles, true, setAttrStart, jintToUlong(type))) return;
    CK_ATTRIBUTE attribute = {jintToUlong(type), value, length};
    writeAttributes(env, handles, &attribute, 1);
}

BRIDGE_NATIVE(void)
Java_it_vantrel_pkcs11_nat_NativePKCS11Object_setBoolAttributeValue(JNIEnv* env, jobject self, jint type,
                                                                    jboolean value) {
    const BridgeLockHold hold;
    CK_BBOOL flag = jbooleanToBBool(value);
    writeSingleValue(env, self, type, &flag, sizeof flag);
}

BRIDGE_NATIVE(void)
Java_it_vantrel_pkcs11_nat_NativePKCS11Object_setIntAttributeValue(JNIEnv* env, jobject self, jint type, jint value) {
    const BridgeLockHold hold;
    CK_ULONG number = jintToUlong(value);
    writeSingleValue(env, self, type, &number, sizeof number);
}
