// Card-vendor extensions of NativePKCS11Session: login and PIN change with raw-byte PINs, and
// the Identrus application object with its one-byte life-cycle status.
#include <cstdlib>
#include <cstring>

#include "frame.h"
#include "operations.h"

constexpr CK_ATTRIBUTE_TYPE applicationKeyAttributeType = 0x80000201UL;
constexpr CK_ULONG identrusApplicationKeyValue = 0x80008001UL;
constexpr CK_ATTRIBUTE_TYPE lifeCycleStatusAttributeType = 0x80004400UL;
constexpr jint lifeCycleStatePreFirstUse = 8;

// Outcome of the application search besides the handle it finds.
constexpr int identrusSearchNotStarted = -1;
constexpr int identrusSearchFailed = -2;

// The module's errors stay inside: they only become the two failure codes. A handle of 0
// means the card has no such object. The handle travels apart from the code so that no
// handle value can pass for a failure.
static int findIdentrusApplication(CK_SESSION_HANDLE session, CK_OBJECT_HANDLE* application) {
    *application = 0;
    CK_ULONG keyValue = identrusApplicationKeyValue;
    CK_ATTRIBUTE search = {applicationKeyAttributeType, &keyValue, sizeof keyValue};
    if (bridgeFindObjectsInit(session, &search, 1) != CKR_OK) return identrusSearchNotStarted;
    if (bridgeFindObjects(session, application) != CKR_OK) {
        *application = 0;
        return identrusSearchFailed;
    }
    (void)bridgeFindObjectsFinal(session);
    return 0;
}

// The lines of the application natives are printed whatever the trace flag says.
static bool startApplicationNative(JNIEnv* env, jobject self, const char* startText, const char* idFormat,
                                   const char* failureFormat, CK_SESSION_HANDLE* session,
                                   CK_OBJECT_HANDLE* application) {
    traceAlways("%s", startText);
    if (!getSessionHandle(env, self, session)) return false;
    traceAlways("(session= %li)\n", *session);
    int outcome = findIdentrusApplication(*session, application);
    traceAlways(idFormat, outcome != 0 ? outcome : static_cast<int>(*application));
    if (outcome != 0) {
        traceAlways(failureFormat, outcome);
        return false;
    }
    return true;
}

// The two status natives end their lines, unlike getIdentrusObject.
static bool startStatusNative(JNIEnv* env, jobject self, const char* startText, CK_SESSION_HANDLE* session,
                              CK_OBJECT_HANDLE* application) {
    return startApplicationNative(env, self, startText, "Identrus application id = %i\n",
                                  "unable to find attribute: error %i\n", session, application);
}

// Reads the status byte; false after the module's error has been thrown (no byte exists then).
static bool readLifeCycleStatus(JNIEnv* env, CK_SESSION_HANDLE session, CK_OBJECT_HANDLE application,
                                signed char* status) {
    CK_ATTRIBUTE attribute = {lifeCycleStatusAttributeType, nullptr, 0};
    CK_RV rv = bridgeGetAttributeValue(session, application, &attribute);
    if (throwIfFailed(env, rv)) return false;
    // An empty value reads as the terminating zero the wrapper puts after it.
    *status = static_cast<signed char>(static_cast<CK_BYTE_PTR>(attribute.pValue)[0]);
    std::free(attribute.pValue);
    return true;
}

BRIDGE_NATIVE(jobject) Java_it_vantrel_pkcs11_nat_NativePKCS11Session_getIdentrusObject(JNIEnv* env, jobject self) {
    const BridgeLockHold hold;
    CK_SESSION_HANDLE session;
    CK_OBJECT_HANDLE application;
    if (!startApplicationNative(env, self, "JNI: start PKCS11Session.getIdentrusObject... ",
                                "Identrus application id = %i", "unable to find attribute: error %i", &session,
                                &application))
        return nullptr;
    traceAlways("JNI: creating PKCS11Object (%li)...", application);
    jclass cls = javaClass(env, JavaClass::Object);
    if (cls == nullptr) {
        traceAlways("Unable to find class NativePKCS11Object");
        return nullptr;
    }
    jmethodID constructor;
    if (!findConstructor(env, JavaConstructor::Object, &cls, &constructor)) {
        traceAlways("Unable to find constructor for class NativePKCS11Object");
        return nullptr;
    }
    jint applicationValue;
    if (!peerHandle(env, HandleKind::Object, session, application, &applicationValue)) return nullptr;
    jobject peer = env->NewObject(cls, constructor, self, applicationValue);
    if (peer == nullptr) traceAlways("Unable to find construct new object for class NativePKCS11Object");
    return peer;
}

BRIDGE_NATIVE(jint) Java_it_vantrel_pkcs11_nat_NativePKCS11Session_getCardStatus(JNIEnv* env, jobject self) {
    const BridgeLockHold hold;
    CK_SESSION_HANDLE session;
    CK_OBJECT_HANDLE application;
    if (!startStatusNative(env, self, "JNI: start PKCS11Session.getCardStatus oberthur... ", &session, &application))
        return -1;
    signed char status;
    if (!readLifeCycleStatus(env, session, application, &status)) return -1;
    traceAlways("lifeCycle status %d\n", status);
    return status;
}

BRIDGE_NATIVE(void)
Java_it_vantrel_pkcs11_nat_NativePKCS11Session_setCardStatus(JNIEnv* env, jobject self, jint newStatus) {
    const BridgeLockHold hold;
    CK_SESSION_HANDLE session;
    CK_OBJECT_HANDLE application;
    if (!startStatusNative(env, self, "JNI: start PKCS11Session.setCardStatus oberthur... ", &session, &application))
        return;
    signed char current;
    // Without the current status the card's state is unknown: nothing is written.
    if (!readLifeCycleStatus(env, session, application, &current)) return;
    traceAlways("Current lifeCycle status %d\n", current);
    CK_BYTE statusByte = static_cast<CK_BYTE>(newStatus & 0xFF);
    if (newStatus == lifeCycleStatePreFirstUse) traceAlways("Setting status to pre.first use\n");
    traceAlways("Setting lifeCycle status to %d\n", static_cast<signed char>(statusByte));
    CK_ATTRIBUTE attribute = {lifeCycleStatusAttributeType, &statusByte, 1};
    CK_RV rv = bridgeSetAttributeValue(session, application, &attribute, 1);
    if (rv != CKR_OK) {
        traceAlways("Error number : %li\n", rv);
        throwErrorCode(env, rv);
    }
}

BRIDGE_NATIVE(void)
Java_it_vantrel_pkcs11_nat_NativePKCS11Session_logintirvex(JNIEnv* env, jobject self, jboolean securityOfficer,
                                                           jbyteArray pin) {
    const BridgeLockHold hold;
    trace("JNI: start PKCS11Session.login tirvex... ");
    CK_SESSION_HANDLE session;
    if (!getSessionHandle(env, self, &session)) return;
    if (pin == nullptr) {
        throwArgumentsBad(env);
        return;
    }
    CK_RV rv;
    {
        ByteArrayElements pinBytes(env, pin, JNI_ABORT);
        if (pinBytes.get() == nullptr) {
            throwUnlessPending(env, "Internal error: Out of memory");
            return;
        }
        trace("(session= %li)\n", session);
        rv = bridgeLoginBytes(session, userTypeOf(securityOfficer), pinBytes.bytes(), jintToUlong(pinBytes.length()));
    }
    throwIfFailed(env, rv);
}

BRIDGE_NATIVE(void)
Java_it_vantrel_pkcs11_nat_NativePKCS11Session_setPINtirvex(JNIEnv* env, jobject self, jbyteArray oldPin,
                                                            jbyteArray newPin) {
    const BridgeLockHold hold;
    trace("JNI: start PKCS11Session.setPin tirvex... ");
    CK_SESSION_HANDLE session;
    if (!getSessionHandle(env, self, &session)) return;
    trace("(session= %li)\n", session);
    if (oldPin == nullptr || newPin == nullptr) {
        throwArgumentsBad(env);
        return;
    }
    CK_RV rv;
    {
        ByteArrayElements oldBytes(env, oldPin, JNI_ABORT);
        if (oldBytes.get() == nullptr) {
            throwUnlessPending(env, "Internal error: Out of memory");
            return;
        }
        ByteArrayElements newBytes(env, newPin, JNI_ABORT);
        if (newBytes.get() == nullptr) {
            throwUnlessPending(env, "Internal error: Out of memory");
            return;
        }
        rv = bridgeSetPINBytes(session, oldBytes.bytes(), jintToUlong(oldBytes.length()), newBytes.bytes(),
                               jintToUlong(newBytes.length()));
        // The old PIN first, then the new one.
        oldBytes.release();
    }
    throwIfFailed(env, rv);
}
