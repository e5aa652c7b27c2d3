#include "jni_double.h"

#include "lookups.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <set>
#include <utility>

namespace jnidouble {

std::vector<std::string> problems;
bool abortOnProblem = false;
std::vector<std::string> releases;

namespace {

struct Object {
    enum Kind { Class, String, Bytes, Ints, Objects, Instance } kind;
    std::string className;  // a class's own name, or the class of anything else
    std::u16string units;
    std::vector<jbyte> bytes;
    std::vector<jint> ints;
    std::vector<Object*> elements;
    std::map<std::string, jint> intFields;
    std::map<std::string, Object*> objectFields;
    std::string detail;  // an exception's message or code
};

struct Refusal {
    int countdown;
    bool withoutException;
};

std::vector<std::unique_ptr<Object>> heap;
std::set<const Object*> live;
std::set<std::string> names;  // method and field IDs point at these
std::map<std::string, Refusal> refusals;
int callCountdown = 0;  // failCall: the failable call that fails, counted down
int liveLocals = 0, peakLocals = 0, liveWeaks = 0;
std::map<const void*, Object*> handedOut;  // characters and elements not given back
Object* pending = nullptr;
JNINativeInterface_ table;
JNIEnv_ environment;

void problem(const std::string& text) {
    if (abortOnProblem) {
        std::fprintf(stderr, "JNI double: %s\n", text.c_str());
        std::abort();
    }
    problems.push_back(text);
}

Object* make(Object::Kind kind, const std::string& className) {
    heap.push_back(std::make_unique<Object>());
    Object* object = heap.back().get();
    object->kind = kind;
    object->className = className;
    live.insert(object);
    return object;
}

// Entry of every function: a call on top of a pending exception is a fault, except the few
// the JNI allows there.
void enter(const char* function) {
    static const std::set<std::string> allowedWhilePending = {
        "ExceptionOccurred",   "ExceptionClear",        "ExceptionCheck",           "DeleteLocalRef",
        "DeleteWeakGlobalRef", "ReleaseStringUTFChars", "ReleaseByteArrayElements", "ReleaseIntArrayElements"};
    if (pending != nullptr && allowedWhilePending.count(function) == 0)
        problem(std::string(function) + " called with " + pending->className + " pending");
}

// The object behind a reference, if it is one of ours of that kind; null otherwise (reported).
Object* as(const void* ref, Object::Kind kind, const char* function) {
    const Object* object = static_cast<const Object*>(ref);
    if (live.count(object) == 0 || object->kind != kind) {
        problem(std::string(function) + " given a reference that is not what it takes");
        return nullptr;
    }
    return const_cast<Object*>(object);
}

// A call that can fail, planned to: a named refusal or the counted one of failCall. The JVM
// says why with the error it would raise there.
bool refusing(const std::string& key, const char* error = "java/lang/OutOfMemoryError") {
    bool counted = callCountdown > 0 && --callCountdown == 0;
    auto found = refusals.find(key);
    bool named = found != refusals.end() && --found->second.countdown == 0;
    if (!counted && !named) return false;
    if (counted || !found->second.withoutException) {
        pending = make(Object::Instance, error);
        pending->detail = key;
    }
    if (named) refusals.erase(found);
    return true;
}

// Every reference a function hands back is a new local reference of the running native.
template <typename Ref>
Ref local(Ref ref) {
    if (ref != nullptr && ++liveLocals > peakLocals) peakLocals = liveLocals;
    return ref;
}

const char* intern(const std::string& name) { return names.insert(name).first->c_str(); }

std::string modifiedUtf8(const std::u16string& units) {
    std::string out;
    for (char16_t unit : units) {
        if (unit != 0 && unit < 0x80) {
            out += static_cast<char>(unit);
        } else if (unit < 0x800) {
            out += static_cast<char>(0xC0 | (unit >> 6));
            out += static_cast<char>(0x80 | (unit & 0x3F));
        } else {
            out += static_cast<char>(0xE0 | (unit >> 12));
            out += static_cast<char>(0x80 | ((unit >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (unit & 0x3F));
        }
    }
    return out;
}

// Modified UTF-8 only, each unit in its one form (C0 80 for U+0000); false otherwise.
bool readModifiedUtf8(const char* text, std::u16string* units) {
    const unsigned char* p = reinterpret_cast<const unsigned char*>(text);
    while (*p != 0) {
        unsigned lead = *p++;
        int extra = lead < 0x80 ? 0 : (lead & 0xE0) == 0xC0 ? 1 : (lead & 0xF0) == 0xE0 ? 2 : -1;
        if (extra < 0) return false;
        unsigned unit = lead & (extra == 0 ? 0x7F : extra == 1 ? 0x1F : 0x0F);
        for (int k = 0; k < extra; k++, p++) {
            if ((*p & 0xC0) != 0x80) return false;
            unit = (unit << 6) | (*p & 0x3F);
        }
        if ((extra == 1 && unit != 0 && unit < 0x80) || (extra == 2 && unit < 0x800)) return false;
        units->push_back(static_cast<char16_t>(unit));
    }
    return true;
}

size_t arrayLength(const Object* array) {
    return array->kind == Object::Bytes  ? array->bytes.size()
           : array->kind == Object::Ints ? array->ints.size()
                                         : array->elements.size();
}

bool inRange(const Object* array, jsize start, jsize length, const char* function) {
    if (start >= 0 && length >= 0 && static_cast<size_t>(start) + static_cast<size_t>(length) <= arrayLength(array))
        return true;
    problem(std::string(function) + " outside the array");
    return false;
}

// The owner and handle fields of the bridge's peers, filled by their constructors.
struct PeerFields {
    const char* className;
    const char* ownerField;
    const char* handleField;
};
const PeerFields peerFields[] = {
    {"it/vantrel/pkcs11/nat/NativePKCS11Slot", "module", "slotID"},
    {"it/vantrel/pkcs11/nat/NativePKCS11Session", "slot", "sessionID"},
    {"it/vantrel/pkcs11/nat/NativePKCS11Object", "session", "objectID"},
};

// ---- The functions ----------------------------------------------------------------------

jclass JNICALL FindClass(JNIEnv*, const char* name) {
    enter("FindClass");
    if (name == nullptr || refusing(std::string("FindClass ") + name, "java/lang/NoClassDefFoundError")) return nullptr;
    return local(reinterpret_cast<jclass>(make(Object::Class, name)));
}

jint JNICALL Throw(JNIEnv*, jthrowable exception) {
    enter("Throw");
    Object* object = as(exception, Object::Instance, "Throw");
    if (object != nullptr) pending = object;
    return 0;
}

jint JNICALL ThrowNew(JNIEnv*, jclass cls, const char* message) {
    enter("ThrowNew");
    Object* type = as(cls, Object::Class, "ThrowNew");
    if (type == nullptr) return -1;
    pending = make(Object::Instance, type->className);
    pending->detail = message != nullptr ? message : "";
    return 0;
}

jthrowable JNICALL ExceptionOccurred(JNIEnv*) {
    enter("ExceptionOccurred");
    return reinterpret_cast<jthrowable>(pending);
}

void JNICALL ExceptionClear(JNIEnv*) {
    enter("ExceptionClear");
    pending = nullptr;
}

jboolean JNICALL ExceptionCheck(JNIEnv*) {
    enter("ExceptionCheck");
    return pending != nullptr ? JNI_TRUE : JNI_FALSE;
}

void JNICALL DeleteLocalRef(JNIEnv*, jobject ref) {
    enter("DeleteLocalRef");
    if (ref != nullptr && live.count(reinterpret_cast<Object*>(ref)) == 0) problem("DeleteLocalRef of no reference");
    if (ref != nullptr && liveLocals > 0) liveLocals--;
}

// The bridge keeps its classes as weak global references; a reference stands for itself here.
jweak JNICALL NewWeakGlobalRef(JNIEnv*, jobject ref) {
    enter("NewWeakGlobalRef");
    if (refusing("NewWeakGlobalRef")) return nullptr;
    if (ref != nullptr && live.count(reinterpret_cast<Object*>(ref)) == 0) problem("NewWeakGlobalRef of no reference");
    if (ref != nullptr) liveWeaks++;
    return ref;
}

void JNICALL DeleteWeakGlobalRef(JNIEnv*, jweak ref) {
    enter("DeleteWeakGlobalRef");
    if (ref != nullptr && live.count(reinterpret_cast<Object*>(ref)) == 0)
        problem("DeleteWeakGlobalRef of no reference");
    if (ref != nullptr) liveWeaks--;
}

jclass JNICALL GetObjectClass(JNIEnv*, jobject ref) {
    enter("GetObjectClass");
    const Object* object = static_cast<const Object*>(static_cast<const void*>(ref));
    if (live.count(object) == 0) {
        problem("GetObjectClass of no object");
        return nullptr;
    }
    return local(reinterpret_cast<jclass>(make(Object::Class, object->className)));
}

jboolean JNICALL IsInstanceOf(JNIEnv*, jobject ref, jclass cls) {
    enter("IsInstanceOf");
    Object* type = as(cls, Object::Class, "IsInstanceOf");
    const Object* object = static_cast<const Object*>(static_cast<const void*>(ref));
    if (type == nullptr || object == nullptr) return JNI_TRUE;  // null is an instance of every class
    return type->className == "java/lang/Object" || type->className == object->className ? JNI_TRUE : JNI_FALSE;
}

jmethodID JNICALL GetMethodID(JNIEnv*, jclass cls, const char* name, const char* signature) {
    enter("GetMethodID");
    Object* type = as(cls, Object::Class, "GetMethodID");
    if (type == nullptr || refusing("GetMethodID", "java/lang/NoSuchMethodError")) return nullptr;
    return reinterpret_cast<jmethodID>(const_cast<char*>(intern(std::string(name) + " " + signature)));
}

jfieldID JNICALL GetFieldID(JNIEnv*, jclass cls, const char* name, const char*) {
    enter("GetFieldID");
    if (as(cls, Object::Class, "GetFieldID") == nullptr || refusing("GetFieldID", "java/lang/NoSuchFieldError"))
        return nullptr;
    return reinterpret_cast<jfieldID>(const_cast<char*>(intern(name)));
}

jint JNICALL GetIntField(JNIEnv*, jobject ref, jfieldID field) {
    enter("GetIntField");
    Object* object = as(ref, Object::Instance, "GetIntField");
    if (object == nullptr) return 0;
    auto found = object->intFields.find(reinterpret_cast<const char*>(field));
    if (found != object->intFields.end()) return found->second;
    problem(std::string("GetIntField of a missing field ") + reinterpret_cast<const char*>(field));
    return 0;
}

jobject JNICALL GetObjectField(JNIEnv*, jobject ref, jfieldID field) {
    enter("GetObjectField");
    Object* object = as(ref, Object::Instance, "GetObjectField");
    if (object == nullptr) return nullptr;
    auto found = object->objectFields.find(reinterpret_cast<const char*>(field));
    return local(found != object->objectFields.end() ? reinterpret_cast<jobject>(found->second) : nullptr);
}

// The constructor's arguments as its signature names them: ints (and booleans) to int
// fields, references to object fields; a peer's go to its owner and handle fields.
jobject JNICALL NewObjectV(JNIEnv*, jclass cls, jmethodID method, va_list args) {
    enter("NewObject");
    Object* type = as(cls, Object::Class, "NewObject");
    if (type == nullptr || method == nullptr) return nullptr;
    if (refusing("NewObject " + type->className)) return nullptr;
    Object* object = make(Object::Instance, type->className);
    const char* ownerField = "arg";
    const char* handleField = "arg";
    for (const PeerFields& peer : peerFields) {
        if (type->className == peer.className) {
            ownerField = peer.ownerField;
            handleField = peer.handleField;
        }
    }
    std::string signature = reinterpret_cast<const char*>(method);
    for (size_t at = signature.find('(') + 1; at < signature.size() && signature[at] != ')'; at++) {
        char kind = signature[at];
        if (kind == 'L' || kind == '[') {
            while (signature[at] == '[') at++;
            if (signature[at] == 'L') at = signature.find(';', at);
            Object* argument = static_cast<Object*>(static_cast<void*>(va_arg(args, jobject)));
            object->objectFields[ownerField] = argument;
            if (argument != nullptr && argument->kind == Object::String) object->detail = modifiedUtf8(argument->units);
        } else if (kind == 'J') {
            object->intFields[handleField] = static_cast<jint>(va_arg(args, jlong));
        } else {
            jint value = va_arg(args, jint);
            if (object->intFields.count(handleField) == 0) {
                object->intFields[handleField] = value;
                object->detail = "code=" + std::to_string(value);
            }
        }
    }
    return local(reinterpret_cast<jobject>(object));
}

// The value classes the bridge converts, their objects as the double builds them: an Integer
// or Boolean keeps its value in the int field "value", a BigInteger its bytes as its argument.
Object* receiver(jobject ref, jmethodID method, const char* function) {
    enter(function);
    Object* object = as(ref, Object::Instance, function);
    if (object == nullptr || method == nullptr || refusing(function)) return nullptr;
    return object;
}

jint JNICALL CallIntMethodV(JNIEnv*, jobject ref, jmethodID method, va_list) {
    Object* object = receiver(ref, method, "CallIntMethod");
    return object != nullptr ? object->intFields["value"] : 0;
}

jboolean JNICALL CallBooleanMethodV(JNIEnv*, jobject ref, jmethodID method, va_list) {
    Object* object = receiver(ref, method, "CallBooleanMethod");
    return object != nullptr && object->intFields["value"] != 0 ? JNI_TRUE : JNI_FALSE;
}

// toByteArray gives the BigInteger's bytes, format a date's digits, parse a Date.
jobject JNICALL CallObjectMethodV(JNIEnv*, jobject ref, jmethodID method, va_list) {
    Object* object = receiver(ref, method, "CallObjectMethod");
    if (object == nullptr) return nullptr;
    std::string name = reinterpret_cast<const char*>(method);
    Object* answer = nullptr;
    if (name.rfind("toByteArray ", 0) == 0) {
        answer = make(Object::Bytes, "[B");
        Object* argument = object->objectFields["arg"];
        if (argument != nullptr && argument->kind == Object::Bytes) answer->bytes = argument->bytes;
    } else if (name.rfind("format ", 0) == 0) {
        answer = make(Object::String, "java/lang/String");
        answer->units = u"20261209";
    } else if (name.rfind("parse ", 0) == 0) {
        answer = make(Object::Instance, "java/util/Date");
    } else {
        problem("CallObjectMethod of a method the double does not know: " + name);
    }
    return local(reinterpret_cast<jobject>(answer));
}

jstring JNICALL NewString(JNIEnv*, const jchar* units, jsize length) {
    enter("NewString");
    if (length < 0 || (length > 0 && units == nullptr)) {
        problem("NewString of a bad length or no characters");
        return nullptr;
    }
    if (refusing("NewString")) return nullptr;
    Object* text = make(Object::String, "java/lang/String");
    text->units.assign(reinterpret_cast<const char16_t*>(units), static_cast<size_t>(length));
    return local(reinterpret_cast<jstring>(text));
}

jstring JNICALL NewStringUTF(JNIEnv*, const char* chars) {
    enter("NewStringUTF");
    std::u16string units;
    if (chars == nullptr || !readModifiedUtf8(chars, &units)) {
        problem("NewStringUTF of text that is not modified UTF-8");
        return nullptr;
    }
    if (refusing("NewStringUTF")) return nullptr;
    Object* text = make(Object::String, "java/lang/String");
    text->units = units;
    return local(reinterpret_cast<jstring>(text));
}

const char* JNICALL GetStringUTFChars(JNIEnv*, jstring ref, jboolean* isCopy) {
    enter("GetStringUTFChars");
    Object* text = as(ref, Object::String, "GetStringUTFChars");
    if (text == nullptr || refusing("GetStringUTFChars")) return nullptr;
    std::string form = modifiedUtf8(text->units);
    char* chars = static_cast<char*>(std::malloc(form.size() + 1));
    std::memcpy(chars, form.c_str(), form.size() + 1);
    handedOut[chars] = text;
    if (isCopy != nullptr) *isCopy = JNI_TRUE;
    return chars;
}

void JNICALL ReleaseStringUTFChars(JNIEnv*, jstring ref, const char* chars) {
    enter("ReleaseStringUTFChars");
    auto found = handedOut.find(chars);
    if (found == handedOut.end() || found->second != static_cast<const void*>(ref)) {
        problem("ReleaseStringUTFChars of characters not handed out for that string");
        return;
    }
    releases.push_back(std::string("ReleaseStringUTFChars ") + chars);
    handedOut.erase(found);
    std::free(const_cast<char*>(chars));
}

jsize JNICALL GetArrayLength(JNIEnv*, jarray ref) {
    enter("GetArrayLength");
    const Object* array = static_cast<const Object*>(static_cast<const void*>(ref));
    if (live.count(array) == 0 ||
        (array->kind != Object::Bytes && array->kind != Object::Ints && array->kind != Object::Objects)) {
        problem("GetArrayLength of no array");
        return 0;
    }
    return static_cast<jsize>(arrayLength(array));
}

jobjectArray JNICALL NewObjectArray(JNIEnv*, jsize length, jclass cls, jobject initial) {
    enter("NewObjectArray");
    Object* type = as(cls, Object::Class, "NewObjectArray");
    if (type == nullptr || length < 0 || refusing("NewObjectArray")) return nullptr;
    Object* array = make(Object::Objects, "[L" + type->className + ";");
    array->elements.assign(static_cast<size_t>(length), static_cast<Object*>(static_cast<void*>(initial)));
    return local(reinterpret_cast<jobjectArray>(array));
}

jobject JNICALL GetObjectArrayElement(JNIEnv*, jobjectArray ref, jsize index) {
    enter("GetObjectArrayElement");
    Object* array = as(ref, Object::Objects, "GetObjectArrayElement");
    if (array == nullptr || !inRange(array, index, 1, "GetObjectArrayElement")) return nullptr;
    return local(reinterpret_cast<jobject>(array->elements[static_cast<size_t>(index)]));
}

void JNICALL SetObjectArrayElement(JNIEnv*, jobjectArray ref, jsize index, jobject value) {
    enter("SetObjectArrayElement");
    Object* array = as(ref, Object::Objects, "SetObjectArrayElement");
    if (array == nullptr || !inRange(array, index, 1, "SetObjectArrayElement")) return;
    array->elements[static_cast<size_t>(index)] = static_cast<Object*>(static_cast<void*>(value));
}

template <typename Element>
Object* newArray(jsize length, Object::Kind kind, const char* className, std::vector<Element> Object::*elements,
                 const char* function) {
    enter(function);
    if (length < 0 || refusing(function)) return nullptr;
    Object* array = make(kind, className);
    (array->*elements).assign(static_cast<size_t>(length), 0);
    return local(array);
}

jbyteArray JNICALL NewByteArray(JNIEnv*, jsize length) {
    return reinterpret_cast<jbyteArray>(newArray(length, Object::Bytes, "[B", &Object::bytes, "NewByteArray"));
}

jintArray JNICALL NewIntArray(JNIEnv*, jsize length) {
    return reinterpret_cast<jintArray>(newArray(length, Object::Ints, "[I", &Object::ints, "NewIntArray"));
}

// Elements are handed out as a copy of their own, so that the sanitizers see any access
// beyond the array.
template <typename Element>
Element* handOut(Object* array, std::vector<Element>& elements, const char* function, jboolean* isCopy) {
    if (refusing(function)) return nullptr;
    Element* copy = static_cast<Element*>(std::malloc(elements.size() * sizeof(Element) + 1));
    if (!elements.empty()) std::memcpy(copy, elements.data(), elements.size() * sizeof(Element));
    handedOut[copy] = array;
    if (isCopy != nullptr) *isCopy = JNI_TRUE;
    return copy;
}

template <typename Element>
void giveBack(const void* ref, std::vector<Element>& elements, Element* copy, jint mode, const char* function) {
    auto found = handedOut.find(copy);
    if (found == handedOut.end() || found->second != ref) {
        problem(std::string(function) + " of elements not handed out for that array");
        return;
    }
    if (mode != JNI_ABORT && !elements.empty()) std::memcpy(elements.data(), copy, elements.size() * sizeof(Element));
    if (mode == JNI_COMMIT) return;
    std::string hex;
    for (size_t i = 0; i < elements.size() * sizeof(Element); i++) {
        char digits[3];
        std::snprintf(digits, sizeof digits, "%02x", reinterpret_cast<unsigned char*>(copy)[i]);
        hex += digits;
    }
    releases.push_back(std::string(function) + " " + hex);
    handedOut.erase(found);
    std::free(copy);
}

jbyte* JNICALL GetByteArrayElements(JNIEnv*, jbyteArray ref, jboolean* isCopy) {
    enter("GetByteArrayElements");
    Object* array = as(ref, Object::Bytes, "GetByteArrayElements");
    if (array == nullptr) return nullptr;
    return handOut(array, array->bytes, "GetByteArrayElements", isCopy);
}

jint* JNICALL GetIntArrayElements(JNIEnv*, jintArray ref, jboolean* isCopy) {
    enter("GetIntArrayElements");
    Object* array = as(ref, Object::Ints, "GetIntArrayElements");
    if (array == nullptr) return nullptr;
    return handOut(array, array->ints, "GetIntArrayElements", isCopy);
}

void JNICALL ReleaseByteArrayElements(JNIEnv*, jbyteArray ref, jbyte* elements, jint mode) {
    enter("ReleaseByteArrayElements");
    Object* array = as(ref, Object::Bytes, "ReleaseByteArrayElements");
    if (array != nullptr) giveBack(array, array->bytes, elements, mode, "ReleaseByteArrayElements");
}

void JNICALL ReleaseIntArrayElements(JNIEnv*, jintArray ref, jint* elements, jint mode) {
    enter("ReleaseIntArrayElements");
    Object* array = as(ref, Object::Ints, "ReleaseIntArrayElements");
    if (array != nullptr) giveBack(array, array->ints, elements, mode, "ReleaseIntArrayElements");
}

void JNICALL GetByteArrayRegion(JNIEnv*, jbyteArray ref, jsize start, jsize length, jbyte* out) {
    enter("GetByteArrayRegion");
    Object* array = as(ref, Object::Bytes, "GetByteArrayRegion");
    if (array == nullptr || !inRange(array, start, length, "GetByteArrayRegion")) return;
    if (length > 0) std::memcpy(out, array->bytes.data() + start, static_cast<size_t>(length));
}

void JNICALL SetByteArrayRegion(JNIEnv*, jbyteArray ref, jsize start, jsize length, const jbyte* in) {
    enter("SetByteArrayRegion");
    Object* array = as(ref, Object::Bytes, "SetByteArrayRegion");
    if (array == nullptr || !inRange(array, start, length, "SetByteArrayRegion")) return;
    if (length > 0) std::memcpy(array->bytes.data() + start, in, static_cast<size_t>(length));
}

void JNICALL SetIntArrayRegion(JNIEnv*, jintArray ref, jsize start, jsize length, const jint* in) {
    enter("SetIntArrayRegion");
    Object* array = as(ref, Object::Ints, "SetIntArrayRegion");
    if (array == nullptr || !inRange(array, start, length, "SetIntArrayRegion")) return;
    if (length > 0) std::memcpy(array->ints.data() + start, in, static_cast<size_t>(length) * sizeof(jint));
}

// Every other slot: the bridge was not expected to call it.
template <size_t Slot>
void JNICALL unexpected() {
    std::fprintf(stderr, "JNI double: the bridge called JNI function slot %zu, which it does not use\n", Slot);
    std::abort();
}

template <size_t... Slots>
void fillWithUnexpected(void** slots, std::index_sequence<Slots...>) {
    ((slots[Slots] = reinterpret_cast<void*>(&unexpected<Slots>)), ...);
}

}  // namespace

JNIEnv* reset() {
    // The bridge's kept classes are ours: they go with the objects, so it must look them up again.
    if (environment.functions != nullptr) releaseLookups(&environment);
    if (!handedOut.empty()) {
        for (auto& entry : handedOut) std::free(const_cast<void*>(entry.first));
        handedOut.clear();
    }
    heap.clear();
    live.clear();
    refusals.clear();
    callCountdown = 0;
    liveLocals = peakLocals = liveWeaks = 0;
    problems.clear();
    releases.clear();
    pending = nullptr;
    constexpr size_t slotCount = sizeof(JNINativeInterface_) / sizeof(void*);
    void* slots[slotCount];
    fillWithUnexpected(slots, std::make_index_sequence<slotCount>());
    std::memcpy(&table, slots, sizeof table);
    table.FindClass = FindClass;
    table.Throw = Throw;
    table.ThrowNew = ThrowNew;
    table.ExceptionOccurred = ExceptionOccurred;
    table.ExceptionClear = ExceptionClear;
    table.ExceptionCheck = ExceptionCheck;
    table.DeleteLocalRef = DeleteLocalRef;
    table.NewWeakGlobalRef = NewWeakGlobalRef;
    table.DeleteWeakGlobalRef = DeleteWeakGlobalRef;
    table.GetObjectClass = GetObjectClass;
    table.IsInstanceOf = IsInstanceOf;
    table.GetMethodID = GetMethodID;
    table.GetFieldID = GetFieldID;
    table.GetIntField = GetIntField;
    table.GetObjectField = GetObjectField;
    table.NewObjectV = NewObjectV;
    table.CallIntMethodV = CallIntMethodV;
    table.CallBooleanMethodV = CallBooleanMethodV;
    table.CallObjectMethodV = CallObjectMethodV;
    table.NewString = NewString;
    table.NewStringUTF = NewStringUTF;
    table.GetStringUTFChars = GetStringUTFChars;
    table.ReleaseStringUTFChars = ReleaseStringUTFChars;
    table.GetArrayLength = GetArrayLength;
    table.NewObjectArray = NewObjectArray;
    table.GetObjectArrayElement = GetObjectArrayElement;
    table.SetObjectArrayElement = SetObjectArrayElement;
    table.NewByteArray = NewByteArray;
    table.NewIntArray = NewIntArray;
    table.GetByteArrayElements = GetByteArrayElements;
    table.GetIntArrayElements = GetIntArrayElements;
    table.ReleaseByteArrayElements = ReleaseByteArrayElements;
    table.ReleaseIntArrayElements = ReleaseIntArrayElements;
    table.GetByteArrayRegion = GetByteArrayRegion;
    table.SetByteArrayRegion = SetByteArrayRegion;
    table.SetIntArrayRegion = SetIntArrayRegion;
    environment.functions = &table;
    return &environment;
}

void failCall(int nth) { callCountdown = nth; }
bool callFaultPending() { return callCountdown > 0; }

void beginNative() { liveLocals = peakLocals = 0; }
int peakLocalRefs() { return peakLocals; }
int liveWeakGlobalRefs() { return liveWeaks; }

void collect(size_t mark) {
    for (size_t i = mark; i < heap.size(); i++) live.erase(heap[i].get());
    if (pending != nullptr && live.count(pending) == 0) pending = nullptr;
    heap.resize(mark < heap.size() ? mark : heap.size());
    heap.shrink_to_fit();
}

size_t objectCount() { return heap.size(); }

void refuse(const std::string& function, int nth, bool withoutException) {
    refusals[function] = Refusal{nth, withoutException};
}

jstring newString(const std::u16string& units) {
    Object* text = make(Object::String, "java/lang/String");
    text->units = units;
    return reinterpret_cast<jstring>(text);
}

jbyteArray newByteArray(const std::vector<jbyte>& bytes) {
    Object* array = make(Object::Bytes, "[B");
    array->bytes = bytes;
    return reinterpret_cast<jbyteArray>(array);
}

jintArray newIntArray(const std::vector<jint>& ints) {
    Object* array = make(Object::Ints, "[I");
    array->ints = ints;
    return reinterpret_cast<jintArray>(array);
}

jobjectArray newObjectArray(const std::vector<jobject>& elements) {
    Object* array = make(Object::Objects, "[Ljava/lang/Object;");
    for (jobject element : elements) array->elements.push_back(static_cast<Object*>(static_cast<void*>(element)));
    return reinterpret_cast<jobjectArray>(array);
}

jobject newInstance(const char* className, const char* intField, jint value, const char* ownerField, jobject owner) {
    Object* object = make(Object::Instance, className);
    object->intFields[intField] = value;
    if (ownerField != nullptr) object->objectFields[ownerField] = static_cast<Object*>(static_cast<void*>(owner));
    return reinterpret_cast<jobject>(object);
}

std::u16string units(jstring text) {
    Object* object = as(text, Object::String, "units");
    return object != nullptr ? object->units : std::u16string();
}

void checkAllReleased() {
    if (!handedOut.empty()) problem(std::to_string(handedOut.size()) + " characters or elements never given back");
}

std::string pendingClass() { return pending != nullptr ? pending->className : ""; }
std::string pendingDetail() { return pending != nullptr ? pending->detail : ""; }

}  // namespace jnidouble
