#include "lookups.h"

#include "exceptions.h"
#include "peers.h"
#include "state.h"

namespace {

const char* const classNames[] = {
    BRIDGE_CLASS_SLOT,
    BRIDGE_CLASS_SESSION,
    BRIDGE_CLASS_OBJECT,
    BRIDGE_CLASS_EXCEPTION,
    "it/vantrel/pkcs11/PKCS11Info",
    "it/vantrel/pkcs11/PKCS11SlotInfo",
    "it/vantrel/pkcs11/PKCS11TokenInfo",
    "it/vantrel/pkcs11/PKCS11MechanismInfo",
    "it/vantrel/pkcs11/PKCS11SessionInfo",
    "java/lang/String",
    "[B",
    "java/lang/Integer",
    "java/lang/Boolean",
    "java/math/BigInteger",
    "java/util/Date",
    "java/text/SimpleDateFormat",
    "java/lang/Object",
};
static_assert(sizeof classNames / sizeof classNames[0] == size_t(JavaClass::Count), "one name per class");

struct Member {
    JavaClass owner;
    const char* name;
    const char* signature;
};

const Member constructors[] = {
    {JavaClass::Slot, "<init>", BRIDGE_CTOR_SLOT},
    {JavaClass::Session, "<init>", BRIDGE_CTOR_SESSION},
    {JavaClass::Object, "<init>", BRIDGE_CTOR_OBJECT},
    {JavaClass::Exception, "<init>", "(I)V"},
    {JavaClass::Exception, "<init>", "(IZ)V"},
    {JavaClass::Info, "<init>", "(ILjava/lang/String;ILjava/lang/String;I)V"},
    {JavaClass::SlotInfo, "<init>", "(Ljava/lang/String;Ljava/lang/String;III)V"},
    {JavaClass::TokenInfo, "<init>",
     "(Ljava/lang/String;Ljava/lang/String;Ljava/lang/String;Ljava/lang/String;IIIIIIIIIIIIILjava/lang/String;)V"},
    {JavaClass::MechanismInfo, "<init>", "(III)V"},
    {JavaClass::SessionInfo, "<init>", "(III)V"},
    {JavaClass::Integer, "<init>", "(I)V"},
    {JavaClass::Boolean, "<init>", "(Z)V"},
    {JavaClass::BigInteger, "<init>", "([B)V"},
    {JavaClass::DateFormat, "<init>", "(Ljava/lang/String;)V"},
};
static_assert(sizeof constructors / sizeof constructors[0] == size_t(JavaConstructor::Count), "one per constructor");

// Called virtually, so a method of the declared class serves every subclass's value.
const Member methods[] = {
    {JavaClass::Integer, "intValue", "()I"},
    {JavaClass::Boolean, "booleanValue", "()Z"},
    {JavaClass::BigInteger, "toByteArray", "()[B"},
    {JavaClass::DateFormat, "format", "(Ljava/util/Date;)Ljava/lang/String;"},
    {JavaClass::DateFormat, "parse", "(Ljava/lang/String;)Ljava/util/Date;"},
};
static_assert(sizeof methods / sizeof methods[0] == size_t(JavaMethod::Count), "one entry per method");

const Member fields[] = {
    {JavaClass::Slot, "slotID", "I"},
    {JavaClass::Session, "sessionID", "I"},
    {JavaClass::Object, "objectID", "I"},
    {JavaClass::Object, "session", "L" BRIDGE_CLASS_SESSION ";"},
};
static_assert(sizeof fields / sizeof fields[0] == size_t(JavaField::Count), "one entry per field");

// What has been found so far. The classes are weak global references: they need not keep the
// classes alive, because every class the natives find is defined by the loader that loaded
// this library or by one of its parents, all of which outlive the library; a strong reference
// would instead keep that loader, and so the library, from ever being unloaded. The members
// are valid as long as their classes are loaded.
struct Lookups {
    jclass classes[size_t(JavaClass::Count)];
    jmethodID constructors[size_t(JavaConstructor::Count)];
    jmethodID methods[size_t(JavaMethod::Count)];
    jfieldID fields[size_t(JavaField::Count)];
};

Lookups lookups = {};

jmethodID findMethod(JNIEnv* env, const Member& member) {
    jclass cls = javaClass(env, member.owner);
    return cls != nullptr ? env->GetMethodID(cls, member.name, member.signature) : nullptr;
}

// Forgets a class whose weak reference was cleared, with every member found in it: the members
// of an unloaded class are no longer valid.
void forgetClass(JNIEnv* env, JavaClass which) {
    env->DeleteWeakGlobalRef(lookups.classes[size_t(which)]);
    lookups.classes[size_t(which)] = nullptr;
    for (size_t i = 0; i < size_t(JavaConstructor::Count); i++)
        if (constructors[i].owner == which) lookups.constructors[i] = nullptr;
    for (size_t i = 0; i < size_t(JavaMethod::Count); i++)
        if (methods[i].owner == which) lookups.methods[i] = nullptr;
    for (size_t i = 0; i < size_t(JavaField::Count); i++)
        if (fields[i].owner == which) lookups.fields[i] = nullptr;
}

}  // namespace

jclass javaClass(JNIEnv* env, JavaClass which) {
    jclass& kept = lookups.classes[size_t(which)];
    if (kept != nullptr) {
        if (!env->IsSameObject(kept, nullptr)) return kept;
        forgetClass(env, which);
    }
    jclass found = env->FindClass(classNames[size_t(which)]);
    if (found == nullptr) return nullptr;
    // Loading the class may have run Java code that called the bridge on this thread and kept
    // the class already; a second reference would never be given back. Null with
    // OutOfMemoryError pending when the JVM has no room for the reference.
    if (kept == nullptr) kept = static_cast<jclass>(env->NewWeakGlobalRef(found));
    env->DeleteLocalRef(found);
    return kept;
}

jmethodID javaMethod(JNIEnv* env, JavaMethod which) {
    jmethodID& kept = lookups.methods[size_t(which)];
    if (kept == nullptr) kept = findMethod(env, methods[size_t(which)]);
    return kept;
}

jfieldID javaField(JNIEnv* env, JavaField which) {
    jfieldID& kept = lookups.fields[size_t(which)];
    if (kept == nullptr) {
        const Member& field = fields[size_t(which)];
        jclass cls = javaClass(env, field.owner);
        if (cls != nullptr) kept = env->GetFieldID(cls, field.name, field.signature);
    }
    return kept;
}

bool findConstructor(JNIEnv* env, JavaConstructor which, jclass* cls, jmethodID* constructor) {
    const Member& member = constructors[size_t(which)];
    *cls = javaClass(env, member.owner);
    *constructor = nullptr;
    if (*cls == nullptr) return false;
    jmethodID& kept = lookups.constructors[size_t(which)];
    if (kept == nullptr) kept = env->GetMethodID(*cls, member.name, member.signature);
    *constructor = kept;
    return kept != nullptr;
}

void releaseLookups(JNIEnv* env) {
    for (jclass cls : lookups.classes)
        if (cls != nullptr) env->DeleteWeakGlobalRef(cls);
    lookups = {};
}

// The library's entry points: nothing is looked up at load, everything kept is given back at
// unload, and a later load of the library starts afresh.
extern "C" BRIDGE_EXPORT jint JNICALL JNI_OnLoad(JavaVM*, void*) {
    const BridgeLockHold hold;
    lookups = {};
    return JNI_VERSION_1_6;
}

extern "C" BRIDGE_EXPORT void JNICALL JNI_OnUnload(JavaVM* vm, void*) {
    const BridgeLockHold hold;
    JNIEnv* env = nullptr;
    if (vm->GetEnv(reinterpret_cast<void**>(&env), JNI_VERSION_1_6) == JNI_OK) releaseLookups(env);
}
