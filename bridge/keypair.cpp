// Natives of NativePKCS11Session that generate a key pair: from Java templates, or from the
// fixed templates of the identity and utility keys.
#include <cstring>

#include "attributes.h"
#include "operations.h"

// Vendor attributes that mark the private key's purpose on the card.
constexpr CK_ATTRIBUTE_TYPE CKA_VENDOR_IDENTITY_KEY = 0x80006002UL;
constexpr CK_ATTRIBUTE_TYPE CKA_VENDOR_UTILITY_KEY = 0x80006001UL;

// Object[2]: public-key peer at 0, private-key peer at 1; null when any part cannot be made.
static jobjectArray keyPairResult(JNIEnv* env, jobject session, CK_SESSION_HANDLE sessionHandle,
                                  CK_OBJECT_HANDLE publicKey, CK_OBJECT_HANDLE privateKey) {
    trace("JNI: creating 2 jobject PKCS11Object...");
    jclass peerClass;
    jmethodID constructor;
    if (!findConstructor(env, JavaConstructor::Object, &peerClass, &constructor)) return nullptr;
    jint publicValue, privateValue;
    if (!peerHandle(env, HandleKind::Object, sessionHandle, publicKey, &publicValue) ||
        !peerHandle(env, HandleKind::Object, sessionHandle, privateKey, &privateValue))
        return nullptr;
    LocalRef<jobject> publicPeer(env, env->NewObject(peerClass, constructor, session, publicValue));
    if (!publicPeer) return nullptr;
    LocalRef<jobject> privatePeer(env, env->NewObject(peerClass, constructor, session, privateValue));
    if (!privatePeer) return nullptr;
    jclass objectClass = javaClass(env, JavaClass::JavaObject);
    if (objectClass == nullptr) return nullptr;
    jobjectArray pair = env->NewObjectArray(2, objectClass, nullptr);
    if (pair == nullptr) return nullptr;
    env->SetObjectArrayElement(pair, 0, publicPeer.get());
    env->SetObjectArrayElement(pair, 1, privatePeer.get());
    trace("OK\n");
    return pair;
}

// Both arrays present and of equal length; otherwise the given message is raised.
static bool checkPair(JNIEnv* env, jintArray types, jobjectArray values, const char* lengthMessage) {
    if (!requireArray(env, types) || !requireArray(env, values)) return false;
    if (env->GetArrayLength(types) == env->GetArrayLength(values)) return true;
    throwMessageException(env, lengthMessage);
    return false;
}

BRIDGE_NATIVE(jobjectArray)
Java_it_vantrel_pkcs11_nat_NativePKCS11Session_generateKeyPair(JNIEnv* env, jobject self, jint mechanismType, jobject,
                                                               jintArray publicTypes, jobjectArray publicValues,
                                                               jintArray privateTypes, jobjectArray privateValues) {
    const BridgeLockHold hold;
    trace("JNI: start PKCS11Session.genKeyPair... ");
    CK_SESSION_HANDLE session;
    if (!getSessionHandle(env, self, &session)) return nullptr;
    CK_MECHANISM mechanism = plainMechanism(mechanismType);
    trace("(session= %li)\n", session);
    if (!checkPair(env, publicTypes, publicValues, "Different array length for PublicKey") ||
        !checkPair(env, privateTypes, privateValues, "Different array length for PrivateKey"))
        return nullptr;
    OwnedTemplate publicTemplate;
    OwnedTemplate privateTemplate;
    if (!allocateTemplate(env, env->GetArrayLength(publicTypes), TemplateSteps::Quiet, &publicTemplate) ||
        !allocateTemplate(env, env->GetArrayLength(privateTypes), TemplateSteps::Quiet, &privateTemplate))
        return nullptr;
    trace("JNI: parse public values...\n");
    if (!convertTemplate(env, publicTypes, publicValues, TemplateSteps::Quiet, &publicTemplate)) return nullptr;
    trace("JNI: parse private values...\n");
    if (!convertTemplate(env, privateTypes, privateValues, TemplateSteps::Quiet, &privateTemplate)) return nullptr;
    CK_OBJECT_HANDLE publicKey = 0;
    CK_OBJECT_HANDLE privateKey = 0;
    CK_RV rv = bridgeGenerateKeyPair(session, &mechanism, publicTemplate.entries, publicTemplate.count,
                                     privateTemplate.entries, privateTemplate.count, &publicKey, &privateKey);
    if (throwIfFailed(env, rv)) return nullptr;
    return keyPairResult(env, self, session, publicKey, privateKey);
}

BRIDGE_NATIVE(jobjectArray)
Java_it_vantrel_pkcs11_nat_NativePKCS11Session_generateKeyPairOB(JNIEnv* env, jobject self, jint mechanismType,
                                                                 jboolean identity) {
    const BridgeLockHold hold;
    CK_SESSION_HANDLE session;
    if (!getSessionHandle(env, self, &session)) return nullptr;
    trace("JNI: start PKCS11Session.genKeyPair... ");
    CK_MECHANISM mechanism = plainMechanism(mechanismType);
    trace("(session= %li)\n", session);

    CK_ULONG modulusBits = 1024;
    CK_BYTE publicExponent[] = {0x01, 0x00, 0x01};
    CK_BBOOL yes = CK_TRUE;
    // The label goes to the token in full ("Identity", "Utility"), without a terminator.
    const char* label = identity ? "Identity" : "Utility";
    CK_ATTRIBUTE publicTemplate[] = {
        {CKA_MODULUS_BITS, &modulusBits, sizeof modulusBits},
        {CKA_PUBLIC_EXPONENT, publicExponent, sizeof publicExponent},
        {CKA_TOKEN, &yes, sizeof yes},
        {CKA_LABEL, const_cast<char*>(label), static_cast<CK_ULONG>(std::strlen(label))},
    };
    CK_ATTRIBUTE privateTemplate[] = {
        {CKA_TOKEN, &yes, sizeof yes},
        {CKA_SIGN, &yes, sizeof yes},
        {CKA_SIGN_RECOVER, &yes, sizeof yes},
        {identity ? CKA_VENDOR_IDENTITY_KEY : CKA_VENDOR_UTILITY_KEY, &yes, sizeof yes},
    };

    traceAlways("Start generating keypair...");
    CK_OBJECT_HANDLE publicKey = 0;
    CK_OBJECT_HANDLE privateKey = 0;
    CK_RV rv =
        bridgeGenerateKeyPair(session, &mechanism, publicTemplate, 4, privateTemplate, 4, &publicKey, &privateKey);
    traceAlways("Done.\n");
    jobjectArray pair = nullptr;
    if (!throwIfFailed(env, rv)) pair = keyPairResult(env, self, session, publicKey, privateKey);
    // The template values live on the stack; these lines are what callers have always seen.
    traceAlways("Clearing memory...\n");
    traceAlways("    --> Public attr values done\n...");
    traceAlways("    --> Public attr done\n...");
    traceAlways("    --> Private attr value done\n...");
    traceAlways("    --> Private attr done\n...");
    traceAlways("Done.\n");
    return pair;
}
