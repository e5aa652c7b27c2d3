// Natives of NativePKCS11Session: closing, session information and authentication.
// A PIN is handed to the module as the JVM's characters, never copied, traced or kept.
#include <cstring>

#include "operations.h"

// Start text, session handle read from the peer; the "(session= %li)" line when asked.
static bool startSessionNative(JNIEnv* env, jobject self, const char* startText, bool traceHandle,
                               CK_SESSION_HANDLE* session) {
    trace("%s", startText);
    if (!getSessionHandle(env, self, session)) return false;
    if (traceHandle) trace("(session= %li)\n", *session);
    return true;
}

BRIDGE_NATIVE(void) Java_it_vantrel_pkcs11_nat_NativePKCS11Session_close(JNIEnv* env, jobject self) {
    const BridgeLockHold hold;
    CK_SESSION_HANDLE session;
    if (!startSessionNative(env, self, "JNI: start PKCS11Session.closeSession... ", true, &session)) return;
    throwIfFailed(env, bridgeCloseSession(session));
}

BRIDGE_NATIVE(void) Java_it_vantrel_pkcs11_nat_NativePKCS11Session_logout(JNIEnv* env, jobject self) {
    const BridgeLockHold hold;
    CK_SESSION_HANDLE session;
    if (!startSessionNative(env, self, "JNI: start PKCS11Session.logout... ", true, &session)) return;
    throwIfFailed(env, bridgeLogout(session));
}

BRIDGE_NATIVE(jobject) Java_it_vantrel_pkcs11_nat_NativePKCS11Session_getInfo(JNIEnv* env, jobject self) {
    const BridgeLockHold hold;
    CK_SESSION_HANDLE session;
    if (!startSessionNative(env, self, "JNI: start PKCS11Session.getInfo... ", true, &session)) return nullptr;
    CK_SESSION_INFO info;
    std::memset(&info, 0, sizeof info);
    CK_RV rv = bridgeGetSessionInfo(session, &info);
    if (throwIfFailed(env, rv)) return nullptr;
    trace("JNI: creating jobject PKCS11SessionInfo...");
    jobject result = newObject(env, JavaConstructor::SessionInfo, ulongToJint(info.state), ulongToJint(info.flags),
                               ulongToJint(info.ulDeviceError));
    if (result == nullptr) return nullptr;
    trace("OK\n");
    return result;
}

BRIDGE_NATIVE(void)
Java_it_vantrel_pkcs11_nat_NativePKCS11Session_login(JNIEnv* env, jobject self, jboolean securityOfficer, jstring pin) {
    const BridgeLockHold hold;
    CK_SESSION_HANDLE session;
    if (!startSessionNative(env, self, "JNI: start PKCS11Session.login... ", false, &session)) return;
    CK_USER_TYPE userType = userTypeOf(securityOfficer);
    JStringChars pinChars(env, pin);
    if (pinChars.chars() == nullptr) {
        throwInsteadOfPending(env, "Internal error");
        return;
    }
    trace("(session= %li)\n", session);
    throwIfFailed(env, bridgeLogin(session, userType, pinChars.chars()));
}

BRIDGE_NATIVE(void)
Java_it_vantrel_pkcs11_nat_NativePKCS11Session_loginAuthPath(JNIEnv* env, jobject self, jboolean securityOfficer) {
    const BridgeLockHold hold;
    CK_SESSION_HANDLE session;
    if (!startSessionNative(env, self, "JNI: start PKCS11Session.login... ", false, &session)) return;
    CK_USER_TYPE userType = userTypeOf(securityOfficer);
    trace("(session= %li)\n", session);
    throwIfFailed(env, bridgeLoginProtectedPath(session, userType));
}

BRIDGE_NATIVE(void) Java_it_vantrel_pkcs11_nat_NativePKCS11Session_initPIN(JNIEnv* env, jobject self, jstring pin) {
    const BridgeLockHold hold;
    CK_SESSION_HANDLE session;
    if (!startSessionNative(env, self, "JNI: start PKCS11Session.initPin... ", true, &session)) return;
    JStringChars pinChars(env, pin);
    if (pinChars.chars() == nullptr) {
        throwInsteadOfPending(env, "Internal error");
        return;
    }
    throwIfFailed(env, bridgeInitPIN(session, pinChars.chars()));
}

BRIDGE_NATIVE(void)
Java_it_vantrel_pkcs11_nat_NativePKCS11Session_setPIN(JNIEnv* env, jobject self, jstring oldPin, jstring newPin) {
    const BridgeLockHold hold;
    CK_SESSION_HANDLE session;
    if (!startSessionNative(env, self, "JNI: start PKCS11Session.setPin... ", true, &session)) return;
    JStringChars oldChars(env, oldPin);
    if (oldChars.chars() == nullptr) {
        throwInsteadOfPending(env, "Internal error");
        return;
    }
    JStringChars newChars(env, newPin);
    if (newChars.chars() == nullptr) {
        throwInsteadOfPending(env, "Internal error");
        return;
    }
    CK_RV rv = bridgeSetPIN(session, oldChars.chars(), newChars.chars());
    // The old PIN first, then the new one.
    oldChars.release();
    newChars.release();
    throwIfFailed(env, rv);
}

BRIDGE_REFUSED_NATIVE(jbyteArray, Java_it_vantrel_pkcs11_nat_NativePKCS11Session_getOperationState, notSupportedMessage,
                      nullptr, jobject)
BRIDGE_REFUSED_NATIVE(void, Java_it_vantrel_pkcs11_nat_NativePKCS11Session_setOperationState, notSupportedMessage, ,
                      jobject, jbyteArray, jobject, jobject)
