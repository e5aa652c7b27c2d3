#include "jni_double.h"

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
void (*onReset)(JNIEnv* env) = nullptr;

namespace {

struct Object {
    enum Kind { Class, String, Bytes, Ints, Objects, Instance } kind;
    std::string className;   // a class's own name, or the class of anything else
    bool madeByJni = false;  // as opposed to made by the test (a native's arguments)
    std::u16string units;
    std::vector<jbyte> bytes;
    std::vector<jint> ints;
    std::vector<Object*> elements;
    std::map<std::string, jint> intFields;
    std::map<std::string, Object*> objectFields;
    std::string detail;       // an exception's message or code
    std::string constructor;  // the signature it was built with, for describe()
    std::vector<jvalue> args;
};

struct Refusal {
    int countdown;
    bool withoutException;
};

Behaviour behaviour;
std::vector<std::unique_ptr<Object>> heap;
std::set<const Object*> live;
std::set<std::string> names;                             // field IDs point at these
std::map<std::string, std::unique_ptr<Method>> methods;  // method IDs point at these
std::map<std::string, Refusal> refusals;
int callCountdown = 0;  // failCall: the failable call that fails, counted down
std::multiset<const Object*> locals;
int peakLocals = 0;
std::multiset<const Object*> weaks;
std::set<const Object*> clearedWeaks;  // objects the collector took: their weak references read null
int attached = 0, leftAtDetach = 0;
jint attachResult = JNI_OK;
std::map<const void*, Object*> handedOut;  // characters and elements not given back
struct Pin {
    void* elements;
    int count;
};
std::map<const Object*, Pin> pins;  // arrays pinned, also in handedOut; pinned: how many pins
int pinned = 0;
Object* pending = nullptr;
JNINativeInterface_ table;
JNIEnv_ environment;
JNIInvokeInterface_ invocation;
JavaVM_ machine;

void journal(const std::string& line) {
    if (behaviour.journal != nullptr) behaviour.journal(line);
}

void problem(const std::string& text) {
    journal(text);
    if (abortOnProblem) {
        std::fprintf(stderr, "JNI double: %s\n", text.c_str());
        std::abort();
    }
    problems.push_back(text);
}

Object* make(Object::Kind kind, const std::string& className, bool madeByJni = true) {
    heap.push_back(std::make_unique<Object>());
    Object* object = heap.back().get();
    object->kind = kind;
    object->className = className;
    object->madeByJni = madeByJni;
    live.insert(object);
    return object;
}

Object* asObject(const void* ref) { return static_cast<Object*>(const_cast<void*>(ref)); }

// Entry of every function: a call on top of a pending exception is a fault, except the few
// the JNI allows there.
void enter(const char* function) {
    static const std::set<std::string> allowedWhilePending = {
        "ExceptionOccurred",        "ExceptionClear",          "ExceptionCheck",
        "DeleteLocalRef",           "DeleteWeakGlobalRef",     "ReleaseStringUTFChars",
        "ReleaseByteArrayElements", "ReleaseIntArrayElements", "ReleasePrimitiveArrayCritical"};
    static const std::set<std::string> allowedWhilePinned = {"GetPrimitiveArrayCritical",
                                                             "ReleasePrimitiveArrayCritical"};
    if (pending != nullptr && allowedWhilePending.count(function) == 0)
        problem(std::string(function) + " called with " + pending->className + " pending");
    if (pinned > 0 && allowedWhilePinned.count(function) == 0)
        problem(std::string(function) + " called while an array is pinned");
}

// The object behind a reference, if it is one of ours of that kind; null otherwise (reported).
Object* as(const void* ref, Object::Kind kind, const char* function) {
    const Object* object = static_cast<const Object*>(ref);
    if (live.count(object) == 0 || object->kind != kind) {
        problem(std::string(function) + " given a reference that is not what it takes");
        return nullptr;
    }
    if (clearedWeaks.count(object) != 0) {
        problem(std::string(function) + " given a weak reference whose object was collected");
        return nullptr;
    }
    return const_cast<Object*>(object);
}

void raise(const char* className, const std::string& message) {
    Object* text = make(Object::String, "java/lang/String", false);
    for (unsigned char c : message) text->units.push_back(c);
    pending = make(Object::Instance, className, false);
    pending->detail = message;
    pending->constructor = "(Ljava/lang/String;)V";
    jvalue argument;
    argument.l = reinterpret_cast<jobject>(text);
    pending->args.push_back(argument);
}

// A call that can fail, planned to: a named refusal or the counted one of failCall. The JVM
// says why with the error it would raise there, unless the call has no exception to give.
bool refusing(const std::string& key, const char* error = "java/lang/OutOfMemoryError") {
    bool counted = callCountdown > 0 && --callCountdown == 0;
    auto found = refusals.find(key);
    bool named = found != refusals.end() && --found->second.countdown == 0;
    if (!counted && !named) return false;
    if (error != nullptr && (counted || !found->second.withoutException)) raise(error, key);
    if (named) refusals.erase(found);
    return true;
}

// Every reference a function hands back is a new local reference of the running native.
template <typename Ref>
Ref local(Ref ref) {
    if (ref != nullptr) {
        locals.insert(static_cast<const Object*>(static_cast<const void*>(ref)));
        if (static_cast<int>(locals.size()) > peakLocals) peakLocals = static_cast<int>(locals.size());
    }
    return ref;
}

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

// The argument types of a method signature, one letter each ('L' for every reference).
std::string argumentKinds(const std::string& signature) {
    std::string kinds;
    for (size_t i = 1; i < signature.size() && signature[i] != ')'; ++i) {
        bool array = false;
        while (signature[i] == '[') {
            array = true;
            ++i;
        }
        char kind = signature[i];
        if (kind == 'L') i = signature.find(';', i);
        kinds += array ? 'L' : kind;
    }
    return kinds;
}

std::vector<jvalue> readArguments(const std::string& signature, va_list args) {
    std::vector<jvalue> values;
    for (char kind : argumentKinds(signature)) {
        jvalue value;
        std::memset(&value, 0, sizeof value);
        switch (kind) {
            case 'J': value.j = va_arg(args, jlong); break;
            case 'F': value.f = static_cast<jfloat>(va_arg(args, double)); break;
            case 'D': value.d = va_arg(args, double); break;
            case 'L': value.l = va_arg(args, jobject); break;
            default: value.i = va_arg(args, jint); break;
        }
        values.push_back(value);
    }
    return values;
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

jint JNICALL GetVersion(JNIEnv*) { return JNI_VERSION_1_2; }

jclass JNICALL FindClass(JNIEnv*, const char* name) {
    enter("FindClass");
    journalf("FindClass %s", name != nullptr ? name : "(null)");
    if (name == nullptr || refusing(std::string("FindClass ") + name, "java/lang/NoClassDefFoundError")) return nullptr;
    if (behaviour.classExists != nullptr && !behaviour.classExists(name)) {
        throwNew("java/lang/NoClassDefFoundError", name);
        return nullptr;
    }
    return local(reinterpret_cast<jclass>(make(Object::Class, name)));
}

jint JNICALL Throw(JNIEnv*, jthrowable exception) {
    enter("Throw");
    Object* object = as(exception, Object::Instance, "Throw");
    if (object != nullptr) pending = object;
    journalf("Throw %s", describe(exception).c_str());
    return 0;
}

jint JNICALL ThrowNew(JNIEnv*, jclass cls, const char* message) {
    enter("ThrowNew");
    Object* type = as(cls, Object::Class, "ThrowNew");
    if (type == nullptr) return -1;
    throwNew(type->className.c_str(), message);
    return 0;
}

jthrowable JNICALL ExceptionOccurred(JNIEnv*) {
    enter("ExceptionOccurred");
    return local(reinterpret_cast<jthrowable>(pending));
}

void JNICALL ExceptionClear(JNIEnv*) {
    enter("ExceptionClear");
    pending = nullptr;
}

jboolean JNICALL ExceptionCheck(JNIEnv*) {
    enter("ExceptionCheck");
    return pending != nullptr ? JNI_TRUE : JNI_FALSE;
}

// A native may delete its arguments too; a reference the JVM handed out may go once.
void JNICALL DeleteLocalRef(JNIEnv*, jobject ref) {
    enter("DeleteLocalRef");
    if (ref == nullptr) return;
    const Object* object = asObject(ref);
    auto found = locals.find(object);
    if (found != locals.end())
        locals.erase(found);
    else if (live.count(object) == 0 || object->madeByJni)
        problem("DeleteLocalRef of a reference that is not live");
}

// A weak global reference stands for the object itself here; local ones going away leave it.
jweak JNICALL NewWeakGlobalRef(JNIEnv*, jobject ref) {
    enter("NewWeakGlobalRef");
    if (refusing("NewWeakGlobalRef")) return nullptr;
    if (ref != nullptr && live.count(asObject(ref)) == 0) problem("NewWeakGlobalRef of no reference");
    if (ref != nullptr) weaks.insert(asObject(ref));
    return ref;
}

void JNICALL DeleteWeakGlobalRef(JNIEnv*, jweak ref) {
    enter("DeleteWeakGlobalRef");
    if (ref == nullptr) return;
    auto found = weaks.find(asObject(ref));
    if (found == weaks.end())
        problem("DeleteWeakGlobalRef of a reference that is not a weak global");
    else
        weaks.erase(found);
}

jboolean JNICALL IsSameObject(JNIEnv*, jobject first, jobject second) {
    enter("IsSameObject");
    auto resolve = [](jobject ref) -> const Object* {
        const Object* object = asObject(ref);
        return weaks.count(object) != 0 && clearedWeaks.count(object) != 0 ? nullptr : object;
    };
    return resolve(first) == resolve(second) ? JNI_TRUE : JNI_FALSE;
}

jclass JNICALL GetObjectClass(JNIEnv*, jobject ref) {
    enter("GetObjectClass");
    const Object* object = asObject(ref);
    if (live.count(object) == 0) {
        problem("GetObjectClass of no object");
        return nullptr;
    }
    return local(reinterpret_cast<jclass>(make(Object::Class, object->className)));
}

jboolean JNICALL IsInstanceOf(JNIEnv*, jobject ref, jclass cls) {
    enter("IsInstanceOf");
    Object* type = as(cls, Object::Class, "IsInstanceOf");
    const Object* object = asObject(ref);
    if (type == nullptr || object == nullptr) return JNI_TRUE;  // null is an instance of every class
    return type->className == "java/lang/Object" || type->className == object->className ? JNI_TRUE : JNI_FALSE;
}

jmethodID JNICALL GetMethodID(JNIEnv*, jclass cls, const char* name, const char* signature) {
    enter("GetMethodID");
    Object* type = as(cls, Object::Class, "GetMethodID");
    if (type == nullptr || refusing("GetMethodID", "java/lang/NoSuchMethodError")) return nullptr;
    if (behaviour.methodExists != nullptr && !behaviour.methodExists(type->className.c_str(), name, signature)) {
        journalf("GetMethodID %s.%s%s not found", type->className.c_str(), name, signature);
        throwNew("java/lang/NoSuchMethodError", name);
        return nullptr;
    }
    std::unique_ptr<Method>& method = methods[type->className + "." + name + signature];
    if (!method) method.reset(new Method{type->className, name, signature});
    return reinterpret_cast<jmethodID>(method.get());
}

jfieldID JNICALL GetFieldID(JNIEnv*, jclass cls, const char* name, const char*) {
    enter("GetFieldID");
    if (as(cls, Object::Class, "GetFieldID") == nullptr || refusing("GetFieldID", "java/lang/NoSuchFieldError"))
        return nullptr;
    return reinterpret_cast<jfieldID>(const_cast<char*>(names.insert(name).first->c_str()));
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
jobject JNICALL NewObjectV(JNIEnv*, jclass cls, jmethodID id, va_list args) {
    enter("NewObject");
    Object* type = as(cls, Object::Class, "NewObject");
    if (type == nullptr || id == nullptr) return nullptr;
    const Method& method = *reinterpret_cast<const Method*>(id);
    std::vector<jvalue> values = readArguments(method.signature, args);
    if (refusing("NewObject " + type->className)) return nullptr;
    Object* object = make(Object::Instance, type->className);
    object->constructor = method.signature;
    object->args = values;
    const char* ownerField = "arg";
    const char* handleField = "arg";
    for (const PeerFields& peer : peerFields) {
        if (type->className == peer.className) {
            ownerField = peer.ownerField;
            handleField = peer.handleField;
        }
    }
    std::string kinds = argumentKinds(method.signature);
    for (size_t i = 0; i < kinds.size(); i++) {
        if (kinds[i] == 'L') {
            Object* argument = asObject(values[i].l);
            object->objectFields[ownerField] = argument;
            if (argument != nullptr && argument->kind == Object::String) object->detail = modifiedUtf8(argument->units);
        } else if (kinds[i] == 'J') {
            object->intFields[handleField] = static_cast<jint>(values[i].j);
        } else if (object->intFields.count(handleField) == 0) {
            object->intFields[handleField] = values[i].i;
            object->detail = "code=" + std::to_string(values[i].i);
        }
    }
    return local(reinterpret_cast<jobject>(object));
}

// Call<Type>Method: the behaviour's answer, or that of the value classes the bridge converts
// as the double builds them (an Integer or Boolean keeps its value in the int field "value",
// a BigInteger its bytes as its argument; toByteArray gives those, format a date's digits,
// parse a Date).
jvalue call(jobject ref, jmethodID id, va_list args, const char* function) {
    enter(function);
    jvalue result;
    std::memset(&result, 0, sizeof result);
    Object* object = as(ref, Object::Instance, function);
    if (object == nullptr || id == nullptr) return result;
    const Method& method = *reinterpret_cast<const Method*>(id);
    journalf("call %s.%s", method.className.c_str(), method.name.c_str());
    std::vector<jvalue> values = readArguments(method.signature, args);
    if (refusing(function)) return result;
    if (behaviour.invoke != nullptr) {
        result = behaviour.invoke(ref, method, values);
        char returned = method.signature[method.signature.find(')') + 1];
        if (returned == 'L' || returned == '[') local(result.l);
        return result;
    }
    Object* answer = nullptr;
    if (method.name == "intValue" || method.name == "booleanValue") {
        result.i = object->intFields["value"];
        if (method.name == "booleanValue") result.z = result.i != 0 ? JNI_TRUE : JNI_FALSE;
    } else if (method.name == "toByteArray") {
        answer = make(Object::Bytes, "[B");
        Object* argument = object->objectFields["arg"];
        if (argument != nullptr && argument->kind == Object::Bytes) answer->bytes = argument->bytes;
    } else if (method.name == "format") {
        answer = make(Object::String, "java/lang/String");
        answer->units = u"20261209";
    } else if (method.name == "parse") {
        answer = make(Object::Instance, "java/util/Date");
    } else {
        problem(std::string(function) + " of a method the double does not know: " + method.name);
    }
    if (answer != nullptr) result.l = local(reinterpret_cast<jobject>(answer));
    return result;
}

jobject JNICALL CallObjectMethodV(JNIEnv*, jobject ref, jmethodID id, va_list args) {
    return call(ref, id, args, "CallObjectMethod").l;
}
jboolean JNICALL CallBooleanMethodV(JNIEnv*, jobject ref, jmethodID id, va_list args) {
    return call(ref, id, args, "CallBooleanMethod").z;
}
jint JNICALL CallIntMethodV(JNIEnv*, jobject ref, jmethodID id, va_list args) {
    return call(ref, id, args, "CallIntMethod").i;
}
void JNICALL CallVoidMethodV(JNIEnv*, jobject ref, jmethodID id, va_list args) {
    call(ref, id, args, "CallVoidMethod");
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

jsize JNICALL GetStringLength(JNIEnv*, jstring ref) {
    enter("GetStringLength");
    Object* text = as(ref, Object::String, "GetStringLength");
    return text != nullptr ? static_cast<jsize>(text->units.size()) : 0;
}

jsize JNICALL GetStringUTFLength(JNIEnv*, jstring ref) {
    enter("GetStringUTFLength");
    Object* text = as(ref, Object::String, "GetStringUTFLength");
    return text != nullptr ? static_cast<jsize>(modifiedUtf8(text->units).size()) : 0;
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
    const Object* array = asObject(ref);
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
    array->elements.assign(static_cast<size_t>(length), asObject(initial));
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
    array->elements[static_cast<size_t>(index)] = asObject(value);
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

// Pinning hands out a copy too, the same one to every pin of an array as a JVM that pins does;
// the last release gives it back.
Object* asPrimitiveArray(const void* ref, const char* function) {
    const Object* object = static_cast<const Object*>(ref);
    if (live.count(object) == 0 || (object->kind != Object::Bytes && object->kind != Object::Ints)) {
        problem(std::string(function) + " given a reference that is not a primitive array");
        return nullptr;
    }
    return const_cast<Object*>(object);
}

void* JNICALL GetPrimitiveArrayCritical(JNIEnv*, jarray ref, jboolean* isCopy) {
    enter("GetPrimitiveArrayCritical");
    Object* array = asPrimitiveArray(ref, "GetPrimitiveArrayCritical");
    if (array == nullptr) return nullptr;
    auto found = pins.find(array);
    if (found != pins.end()) {
        if (refusing("GetPrimitiveArrayCritical")) return nullptr;
        found->second.count++;
        pinned++;
        if (isCopy != nullptr) *isCopy = JNI_TRUE;
        return found->second.elements;
    }
    void* elements = array->kind == Object::Bytes
                         ? static_cast<void*>(handOut(array, array->bytes, "GetPrimitiveArrayCritical", isCopy))
                         : static_cast<void*>(handOut(array, array->ints, "GetPrimitiveArrayCritical", isCopy));
    if (elements == nullptr) return nullptr;
    pins[array] = Pin{elements, 1};
    pinned++;
    return elements;
}

void JNICALL ReleasePrimitiveArrayCritical(JNIEnv*, jarray ref, void* elements, jint mode) {
    enter("ReleasePrimitiveArrayCritical");
    Object* array = asPrimitiveArray(ref, "ReleasePrimitiveArrayCritical");
    if (array == nullptr) return;
    auto found = pins.find(array);
    if (found == pins.end() || found->second.elements != elements) {
        problem("ReleasePrimitiveArrayCritical of elements not pinned for that array");
        return;
    }
    pinned--;
    if (--found->second.count > 0) return;
    pins.erase(found);
    if (array->kind == Object::Bytes)
        giveBack(array, array->bytes, static_cast<jbyte*>(elements), mode, "ReleasePrimitiveArrayCritical");
    else
        giveBack(array, array->ints, static_cast<jint*>(elements), mode, "ReleasePrimitiveArrayCritical");
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

// ---- The invocation interface: one thread frame at a time ----------------------------------

jint JNICALL AttachCurrentThread(JavaVM*, void** penv, void*) {
    jint result = refusing("AttachCurrentThread", nullptr) ? JNI_ENOMEM : attachResult;
    journalf("AttachCurrentThread -> %d", static_cast<int>(result));
    *penv = result == JNI_OK ? &environment : nullptr;
    if (result == JNI_OK) {
        attached++;
        locals.clear();
    }
    return result;
}

jint JNICALL DetachCurrentThread(JavaVM*) {
    // A thread that is not attached may detach: a JVM answers JNI_OK.
    journalf("DetachCurrentThread live=%d", liveLocalRefs());
    attached = attached > 0 ? attached - 1 : 0;
    leftAtDetach += liveLocalRefs();
    locals.clear();
    return JNI_OK;
}

jint JNICALL GetEnv(JavaVM*, void** penv, jint) {
    *penv = &environment;
    return JNI_OK;
}

// Every other slot: our libraries were not expected to call it. Name it and stop: the run has
// gone somewhere untested.
[[noreturn]] void unexpected(size_t slot) {
    journalf("unexpected JNI function %u", static_cast<unsigned>(slot));
    std::fprintf(stderr, "JNI double: unexpected JNI function slot %u\n", static_cast<unsigned>(slot));
    std::fflush(nullptr);
    std::_Exit(97);
}

template <size_t Slot>
void JNICALL trap() {
    unexpected(Slot);
}

template <size_t... Slots>
void fillTraps(void** slots, std::index_sequence<Slots...>) {
    ((slots[Slots] = reinterpret_cast<void*>(&trap<Slots>)), ...);
}

void fillTables() {
    fillTraps(reinterpret_cast<void**>(&table), std::make_index_sequence<sizeof table / sizeof(void*)>());
    table.GetVersion = GetVersion;
    table.FindClass = FindClass;
    table.Throw = Throw;
    table.ThrowNew = ThrowNew;
    table.ExceptionOccurred = ExceptionOccurred;
    table.ExceptionClear = ExceptionClear;
    table.ExceptionCheck = ExceptionCheck;
    table.DeleteLocalRef = DeleteLocalRef;
    table.NewWeakGlobalRef = NewWeakGlobalRef;
    table.DeleteWeakGlobalRef = DeleteWeakGlobalRef;
    table.IsSameObject = IsSameObject;
    table.GetObjectClass = GetObjectClass;
    table.IsInstanceOf = IsInstanceOf;
    table.GetMethodID = GetMethodID;
    table.GetFieldID = GetFieldID;
    table.GetIntField = GetIntField;
    table.GetObjectField = GetObjectField;
    table.NewObjectV = NewObjectV;
    table.CallObjectMethodV = CallObjectMethodV;
    table.CallBooleanMethodV = CallBooleanMethodV;
    table.CallIntMethodV = CallIntMethodV;
    table.CallVoidMethodV = CallVoidMethodV;
    table.NewString = NewString;
    table.NewStringUTF = NewStringUTF;
    table.GetStringLength = GetStringLength;
    table.GetStringUTFLength = GetStringUTFLength;
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
    table.GetPrimitiveArrayCritical = GetPrimitiveArrayCritical;
    table.ReleasePrimitiveArrayCritical = ReleasePrimitiveArrayCritical;
    environment.functions = &table;

    fillTraps(reinterpret_cast<void**>(&invocation), std::make_index_sequence<sizeof invocation / sizeof(void*)>());
    invocation.AttachCurrentThread = AttachCurrentThread;
    invocation.DetachCurrentThread = DetachCurrentThread;
    invocation.GetEnv = GetEnv;
    machine.functions = &invocation;
}

std::string describeValue(char kind, const jvalue& value) {
    char number[32];
    switch (kind) {
        case 'L': return describe(value.l);
        case 'Z': return value.z ? "true" : "false";
        case 'J': std::snprintf(number, sizeof number, "%lld", static_cast<long long>(value.j)); return number;
        case 'F':
        case 'D': std::snprintf(number, sizeof number, "%g", kind == 'F' ? value.f : value.d); return number;
        default: std::snprintf(number, sizeof number, "%d", static_cast<int>(value.i)); return number;
    }
}

}  // namespace

void install(const Behaviour& chosen) {
    behaviour = chosen;
    if (environment.functions == nullptr) fillTables();
}

JNIEnv* reset() {
    if (onReset != nullptr && environment.functions != nullptr) onReset(&environment);
    for (auto& entry : handedOut) std::free(const_cast<void*>(entry.first));
    handedOut.clear();
    pins.clear();
    pinned = 0;
    heap.clear();
    live.clear();
    refusals.clear();
    callCountdown = 0;
    locals.clear();
    weaks.clear();
    clearedWeaks.clear();
    peakLocals = attached = leftAtDetach = 0;
    attachResult = JNI_OK;
    forgetRecords();
    pending = nullptr;
    fillTables();
    return &environment;
}

JNIEnv* env() {
    if (environment.functions == nullptr) fillTables();
    return &environment;
}

JavaVM* vm() {
    env();
    return &machine;
}

void forgetRecords() {
    std::vector<std::string>().swap(problems);
    std::vector<std::string>().swap(releases);
}

void refuse(const std::string& function, int nth, bool withoutException) {
    refusals[function] = Refusal{nth, withoutException};
}

void failCall(int nth) { callCountdown = nth; }
bool callFaultPending() { return callCountdown > 0; }
void setAttachResult(jint result) { attachResult = result; }

void beginNative() {
    locals.clear();
    peakLocals = 0;
}
int liveLocalRefs() { return static_cast<int>(locals.size()); }
int peakLocalRefs() { return peakLocals; }
void clearWeakGlobalRefs() { clearedWeaks.insert(weaks.begin(), weaks.end()); }

int liveWeakGlobalRefs() { return static_cast<int>(weaks.size()); }
int attachedThreads() { return attached; }
int localRefsLeftAtDetach() { return leftAtDetach; }

size_t objectCount() { return heap.size(); }

void collect(size_t mark) {
    for (size_t i = mark; i < heap.size(); i++) {
        live.erase(heap[i].get());
        locals.erase(heap[i].get());
        weaks.erase(heap[i].get());
    }
    if (pending != nullptr && live.count(pending) == 0) pending = nullptr;
    heap.resize(mark < heap.size() ? mark : heap.size());
    heap.shrink_to_fit();
}

jstring newString(const std::u16string& units) {
    Object* text = make(Object::String, "java/lang/String", false);
    text->units = units;
    return reinterpret_cast<jstring>(text);
}

jstring newStringUtf(const std::string& modifiedUtf8) {
    std::u16string units;
    if (!readModifiedUtf8(modifiedUtf8.c_str(), &units)) problem("newStringUtf of text that is not modified UTF-8");
    return newString(units);
}

jbyteArray newByteArray(const std::vector<jbyte>& bytes) {
    Object* array = make(Object::Bytes, "[B", false);
    array->bytes = bytes;
    return reinterpret_cast<jbyteArray>(array);
}

jintArray newIntArray(const std::vector<jint>& ints) {
    Object* array = make(Object::Ints, "[I", false);
    array->ints = ints;
    return reinterpret_cast<jintArray>(array);
}

jobjectArray newObjectArray(const std::vector<jobject>& elements) {
    Object* array = make(Object::Objects, "[Ljava/lang/Object;", false);
    for (jobject element : elements) array->elements.push_back(asObject(element));
    return reinterpret_cast<jobjectArray>(array);
}

jobject newInstance(const char* className, const char* intField, jint value, const char* ownerField, jobject owner) {
    Object* object = make(Object::Instance, className, false);
    object->intFields[intField] = value;
    if (ownerField != nullptr) object->objectFields[ownerField] = asObject(owner);
    return reinterpret_cast<jobject>(object);
}

void throwNew(const char* className, const char* message) {
    raise(className, message != nullptr ? message : "");
    journalf("throw %s", describe(reinterpret_cast<jobject>(pending)).c_str());
}

std::u16string units(jstring text) {
    Object* object = as(text, Object::String, "units");
    return object != nullptr ? object->units : std::u16string();
}

std::string describe(jobject ref) {
    if (ref == nullptr) return "null";
    const Object* object = asObject(ref);
    if (live.count(object) == 0) return "(no object)";
    switch (object->kind) {
        case Object::String: return "\"" + modifiedUtf8(object->units) + "\"";
        case Object::Class: return "class " + object->className;
        case Object::Bytes: return "byte[" + std::to_string(object->bytes.size()) + "]";
        case Object::Ints: return "int[" + std::to_string(object->ints.size()) + "]";
        case Object::Objects: {
            std::string element = object->className.substr(2, object->className.size() - 3);
            std::string out = element + "[" + std::to_string(object->elements.size()) + "]{";
            for (size_t i = 0; i < object->elements.size(); ++i)
                out += (i ? ", " : "") + describe(reinterpret_cast<jobject>(object->elements[i]));
            return out + "}";
        }
        case Object::Instance: break;
    }
    std::string out = object->className + "(";
    std::string kinds = argumentKinds(object->constructor);
    for (size_t i = 0; i < object->args.size() && i < kinds.size(); ++i)
        out += (i ? ", " : "") + describeValue(kinds[i], object->args[i]);
    return out + ")";
}

void checkAllReleased() {
    if (!handedOut.empty()) problem(std::to_string(handedOut.size()) + " characters or elements never given back");
}

std::string pendingClass() { return pending != nullptr ? pending->className : ""; }
std::string pendingDetail() { return pending != nullptr ? pending->detail : ""; }
jobject pendingException() { return reinterpret_cast<jobject>(pending); }

void journalf(const char* format, ...) {
    if (behaviour.journal == nullptr) return;
    char line[1024];
    va_list args;
    va_start(args, format);
    std::vsnprintf(line, sizeof line, format, args);
    va_end(args);
    journal(line);
}

}  // namespace jnidouble
