#include "fake_jni.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <set>
#include <utility>

namespace fakejni {
namespace {

Behaviour behaviour;
std::set<Ref*> live;
std::set<Ref*> weak;  // weak global references not yet deleted
Ref* pending = nullptr;
jint attachResult = JNI_OK;
std::deque<Method> methods;
std::deque<std::string> fieldNames;
JNINativeInterface_ functions;
JNIEnv_ environment;
JNIInvokeInterface_ invocation;
JavaVM_ machine;

void journal(const std::string& line) {
    if (behaviour.journal != nullptr) behaviour.journal(line);
}

// A slot nobody expected to be called: name it and stop, the run has gone somewhere untested.
[[noreturn]] void unexpected(size_t slot) {
    journalf("unexpected JNI function %u", static_cast<unsigned>(slot));
    std::fprintf(stderr, "unexpected JNI function %u\n", static_cast<unsigned>(slot));
    std::fflush(nullptr);
    std::_Exit(97);
}

template <size_t Slot>
void JNICALL trap() {
    unexpected(Slot);
}

template <size_t... Slots>
void fillTraps(void** table, std::index_sequence<Slots...>) {
    ((table[Slots] = reinterpret_cast<void*>(&trap<Slots>)), ...);
}

Ref* newRef(Ref::Kind kind, const std::string& className) {
    Ref* ref = new Ref;  // never freed: a stale reference must stay recognisable
    ref->kind = kind;
    ref->className = className;
    live.insert(ref);
    return ref;
}

Ref* asRef(const void* reference) { return static_cast<Ref*>(const_cast<void*>(reference)); }

// JNI's reference types are pointers to empty classes; ours point at a Ref.
template <typename Handle = jobject>
Handle handle(Ref* ref) {
    return reinterpret_cast<Handle>(ref);
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

jvalue invoke(jobject self, jmethodID id, va_list args) {
    const Method& method = *reinterpret_cast<const Method*>(id);
    journalf("call %s.%s", method.className.c_str(), method.name.c_str());
    jvalue none;
    std::memset(&none, 0, sizeof none);
    if (self == nullptr || live.count(asRef(self)) == 0) journalf("call on a reference that is not live");
    if (behaviour.invoke == nullptr) return none;
    return behaviour.invoke(asRef(self), method, readArguments(method.signature, args));
}

jint JNICALL GetVersion(JNIEnv*) { return JNI_VERSION_1_2; }

jclass JNICALL FindClass(JNIEnv*, const char* name) {
    journalf("FindClass %s", name);
    if (behaviour.classExists != nullptr && behaviour.classExists(name))
        return handle<jclass>(newRef(Ref::Class, name));
    throwNew("java/lang/NoClassDefFoundError", name);
    return nullptr;
}

jclass JNICALL GetObjectClass(JNIEnv*, jobject object) {
    return handle<jclass>(newRef(Ref::Class, asRef(object)->className));
}

jmethodID JNICALL GetMethodID(JNIEnv*, jclass cls, const char* name, const char* signature) {
    const std::string& className = asRef(cls)->className;
    if (behaviour.methodExists == nullptr || !behaviour.methodExists(className.c_str(), name, signature)) {
        journalf("GetMethodID %s.%s%s not found", className.c_str(), name, signature);
        throwNew("java/lang/NoSuchMethodError", name);
        return nullptr;
    }
    methods.push_back(Method{className, name, signature});
    return reinterpret_cast<jmethodID>(&methods.back());
}

jobject JNICALL NewObjectV(JNIEnv*, jclass cls, jmethodID constructor, va_list args) {
    const Method& method = *reinterpret_cast<const Method*>(constructor);
    Ref* object = newRef(Ref::Object, asRef(cls)->className);
    object->constructor = method.signature;
    object->args = readArguments(method.signature, args);
    return handle(object);
}

jobject JNICALL CallObjectMethodV(JNIEnv*, jobject self, jmethodID method, va_list args) {
    return invoke(self, method, args).l;
}
jboolean JNICALL CallBooleanMethodV(JNIEnv*, jobject self, jmethodID method, va_list args) {
    return invoke(self, method, args).z;
}
jint JNICALL CallIntMethodV(JNIEnv*, jobject self, jmethodID method, va_list args) {
    return invoke(self, method, args).i;
}
void JNICALL CallVoidMethodV(JNIEnv*, jobject self, jmethodID method, va_list args) { invoke(self, method, args); }

jthrowable JNICALL ExceptionOccurred(JNIEnv*) {
    if (pending == nullptr) return nullptr;
    Ref* copy = newRef(Ref::Object, pending->className);
    copy->constructor = pending->constructor;
    copy->args = pending->args;
    return handle<jthrowable>(copy);
}
void JNICALL ExceptionClear(JNIEnv*) { pending = nullptr; }
jboolean JNICALL ExceptionCheck(JNIEnv*) { return pending != nullptr ? JNI_TRUE : JNI_FALSE; }

jint JNICALL Throw(JNIEnv*, jthrowable exception) {
    pending = asRef(exception);
    journalf("Throw %s", describe(exception).c_str());
    return 0;
}

jint JNICALL ThrowNew(JNIEnv*, jclass cls, const char* message) {
    throwNew(asRef(cls)->className.c_str(), message);
    return 0;
}

void JNICALL DeleteLocalRef(JNIEnv*, jobject ref) {
    if (ref == nullptr) return;
    if (live.erase(asRef(ref)) == 0) journalf("DeleteLocalRef of a reference that is not live");
}

// A weak global reference is a reference of its own to the same thing; local ones going away
// leave it alone.
jweak JNICALL NewWeakGlobalRef(JNIEnv*, jobject object) {
    if (object == nullptr) return nullptr;
    Ref* ref = new Ref(*asRef(object));
    weak.insert(ref);
    return handle<jweak>(ref);
}
void JNICALL DeleteWeakGlobalRef(JNIEnv*, jweak ref) {
    if (ref == nullptr) return;
    if (weak.erase(asRef(ref)) == 0) journalf("DeleteWeakGlobalRef of a reference that is not a weak global");
}

jfieldID JNICALL GetFieldID(JNIEnv*, jclass, const char* name, const char*) {
    fieldNames.push_back(name);
    return reinterpret_cast<jfieldID>(&fieldNames.back());
}
jint JNICALL GetIntField(JNIEnv*, jobject object, jfieldID field) {
    return asRef(object)->fields[*reinterpret_cast<std::string*>(field)].i;
}
jobject JNICALL GetObjectField(JNIEnv*, jobject object, jfieldID field) {
    jobject value = asRef(object)->fields[*reinterpret_cast<std::string*>(field)].l;
    if (value != nullptr) live.insert(asRef(value));
    return value;
}

jstring JNICALL NewStringUTF(JNIEnv*, const char* text) { return newString(text != nullptr ? text : ""); }

jstring JNICALL NewString(JNIEnv*, const jchar* units, jsize length) {
    std::string text;
    for (jsize i = 0; i < length; ++i) {
        unsigned unit = units[i];
        if (unit != 0 && unit < 0x80) {
            text += static_cast<char>(unit);
        } else if (unit < 0x800) {
            text += static_cast<char>(0xC0 | (unit >> 6));
            text += static_cast<char>(0x80 | (unit & 0x3F));
        } else {
            text += static_cast<char>(0xE0 | (unit >> 12));
            text += static_cast<char>(0x80 | ((unit >> 6) & 0x3F));
            text += static_cast<char>(0x80 | (unit & 0x3F));
        }
    }
    return newString(text);
}

jsize JNICALL GetStringLength(JNIEnv*, jstring text) {
    jsize units = 0;
    for (unsigned char byte : asRef(text)->text) {
        if ((byte & 0xC0) != 0x80) ++units;  // one unit per sequence start (no supplementary pairs here)
    }
    return units;
}
jsize JNICALL GetStringUTFLength(JNIEnv*, jstring text) { return static_cast<jsize>(asRef(text)->text.size()); }

const char* JNICALL GetStringUTFChars(JNIEnv*, jstring text, jboolean* isCopy) {
    if (isCopy != nullptr) *isCopy = JNI_TRUE;
    const std::string& bytes = asRef(text)->text;
    char* copy = static_cast<char*>(std::malloc(bytes.size() + 1));
    std::memcpy(copy, bytes.c_str(), bytes.size() + 1);
    return copy;
}
void JNICALL ReleaseStringUTFChars(JNIEnv*, jstring, const char* chars) { std::free(const_cast<char*>(chars)); }

jsize JNICALL GetArrayLength(JNIEnv*, jarray array) { return static_cast<jsize>(asRef(array)->elements.size()); }

jobjectArray JNICALL NewObjectArray(JNIEnv*, jsize length, jclass cls, jobject initial) {
    if (length < 0) {
        throwNew("java/lang/NegativeArraySizeException", "");
        return nullptr;
    }
    Ref* array = newRef(Ref::Array, asRef(cls)->className);
    array->elements.assign(static_cast<size_t>(length), asRef(initial));
    return handle<jobjectArray>(array);
}
jobject JNICALL GetObjectArrayElement(JNIEnv*, jobjectArray array, jsize index) {
    Ref* element = asRef(array)->elements.at(static_cast<size_t>(index));
    if (element != nullptr) live.insert(element);
    return handle(element);
}
void JNICALL SetObjectArrayElement(JNIEnv*, jobjectArray array, jsize index, jobject value) {
    std::vector<Ref*>& elements = asRef(array)->elements;
    if (index < 0 || static_cast<size_t>(index) >= elements.size()) {
        throwNew("java/lang/ArrayIndexOutOfBoundsException", "");
        return;
    }
    elements[static_cast<size_t>(index)] = asRef(value);
}

jint JNICALL AttachCurrentThread(JavaVM*, void** penv, void*) {
    journalf("AttachCurrentThread -> %d", static_cast<int>(attachResult));
    *penv = attachResult == JNI_OK ? env() : nullptr;
    return attachResult;
}

jint JNICALL DetachCurrentThread(JavaVM*) {
    journalf("DetachCurrentThread live=%d", liveLocalRefs());
    dropLocalRefs();
    return JNI_OK;
}

jint JNICALL GetEnv(JavaVM*, void** penv, jint) {
    *penv = env();
    return JNI_OK;
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
    void** table = reinterpret_cast<void**>(&functions);
    fillTraps(table, std::make_index_sequence<sizeof(JNINativeInterface_) / sizeof(void*)>());
    functions.GetVersion = GetVersion;
    functions.FindClass = FindClass;
    functions.GetObjectClass = GetObjectClass;
    functions.GetMethodID = GetMethodID;
    functions.NewObjectV = NewObjectV;
    functions.CallObjectMethodV = CallObjectMethodV;
    functions.CallBooleanMethodV = CallBooleanMethodV;
    functions.CallIntMethodV = CallIntMethodV;
    functions.CallVoidMethodV = CallVoidMethodV;
    functions.ExceptionOccurred = ExceptionOccurred;
    functions.ExceptionClear = ExceptionClear;
    functions.ExceptionCheck = ExceptionCheck;
    functions.Throw = Throw;
    functions.ThrowNew = ThrowNew;
    functions.DeleteLocalRef = DeleteLocalRef;
    functions.NewWeakGlobalRef = NewWeakGlobalRef;
    functions.DeleteWeakGlobalRef = DeleteWeakGlobalRef;
    functions.GetFieldID = GetFieldID;
    functions.GetIntField = GetIntField;
    functions.GetObjectField = GetObjectField;
    functions.NewStringUTF = NewStringUTF;
    functions.NewString = NewString;
    functions.GetStringLength = GetStringLength;
    functions.GetStringUTFLength = GetStringUTFLength;
    functions.GetStringUTFChars = GetStringUTFChars;
    functions.ReleaseStringUTFChars = ReleaseStringUTFChars;
    functions.GetArrayLength = GetArrayLength;
    functions.NewObjectArray = NewObjectArray;
    functions.GetObjectArrayElement = GetObjectArrayElement;
    functions.SetObjectArrayElement = SetObjectArrayElement;
    environment.functions = &functions;

    void** invocationTable = reinterpret_cast<void**>(&invocation);
    fillTraps(invocationTable, std::make_index_sequence<sizeof(JNIInvokeInterface_) / sizeof(void*)>());
    invocation.AttachCurrentThread = AttachCurrentThread;
    invocation.DetachCurrentThread = DetachCurrentThread;
    invocation.GetEnv = GetEnv;
    machine.functions = &invocation;
}

JNIEnv* env() { return &environment; }
JavaVM* vm() { return &machine; }

jstring newString(const std::string& text) {
    Ref* ref = newRef(Ref::String, "java/lang/String");
    ref->text = text;
    return handle<jstring>(ref);
}

void throwNew(const char* className, const char* message) {
    Ref* exception = new Ref;
    exception->className = className;
    exception->constructor = "(Ljava/lang/String;)V";
    jvalue text;
    text.l = newString(message != nullptr ? message : "");
    live.erase(asRef(text.l));
    exception->args.push_back(text);
    pending = exception;
    journalf("throw %s", describe(handle(exception)).c_str());
}

Ref* pendingException() { return pending; }
int liveLocalRefs() { return static_cast<int>(live.size()); }
int liveWeakRefs() { return static_cast<int>(weak.size()); }
void dropLocalRefs() { live.clear(); }
void setAttachResult(jint result) { attachResult = result; }

std::string describe(jobject reference) {
    if (reference == nullptr) return "null";
    const Ref* ref = asRef(reference);
    switch (ref->kind) {
        case Ref::String: return "\"" + ref->text + "\"";
        case Ref::Class: return "class " + ref->className;
        case Ref::Array: {
            std::string out = ref->className + "[" + std::to_string(ref->elements.size()) + "]{";
            for (size_t i = 0; i < ref->elements.size(); ++i)
                out += (i ? ", " : "") + describe(handle(ref->elements[i]));
            return out + "}";
        }
        case Ref::Object: break;
    }
    std::string out = ref->className + "(";
    std::string kinds = argumentKinds(ref->constructor);
    for (size_t i = 0; i < ref->args.size() && i < kinds.size(); ++i)
        out += (i ? ", " : "") + describeValue(kinds[i], ref->args[i]);
    return out + ")";
}

void journalf(const char* format, ...) {
    char line[1024];
    va_list args;
    va_start(args, format);
    std::vsnprintf(line, sizeof line, format, args);
    va_end(args);
    journal(line);
}

}  // namespace fakejni
