// Natives of NativePKCS11Session that search a session's objects and create objects.

#include "attributes.h"

// Vendor attribute of the certificate template, set from the caller's first argument.
constexpr CK_ATTRIBUTE_TYPE CKA_VENDOR_CERTIFICATE_VALUE = 0x80002000UL;

static jobject newObjectPeer(JNIEnv* env, jobject session, CK_OBJECT_HANDLE object) {
    return newPeer(env, JavaConstructor::Object, session, object);
}

BRIDGE_NATIVE(void)
Java_it_vantrel_pkcs11_nat_NativePKCS11Session_findObjectsInit(JNIEnv* env, jobject self, jintArray types,
                                                               jobjectArray values) {
    const BridgeLockHold hold;
    trace("JNI: start PKCS11Session.findObjectsInit... ");
    CK_SESSION_HANDLE session;
    if (!getSessionHandle(env, self, &session)) return;
    trace("(session= %li)\n", session);
    OwnedTemplate templ;
    // Two null arrays search every object the session may see; one null array is refused.
    if ((types != nullptr || values != nullptr) && !buildTemplate(env, types, values, &templ)) return;
    CK_RV rv = bridgeFindObjectsInit(session, templ.entries, templ.count);
    throwIfFailed(env, rv);
}

BRIDGE_NATIVE(jobject) Java_it_vantrel_pkcs11_nat_NativePKCS11Session_findObject(JNIEnv* env, jobject self) {
    const BridgeLockHold hold;
    trace("JNI: start PKCS11Session.findObject... ");
    CK_SESSION_HANDLE session;
    if (!getSessionHandle(env, self, &session)) return nullptr;
    trace("(session= %li)\n", session);
    CK_OBJECT_HANDLE object = 0;
    CK_RV rv = bridgeFindObjects(session, &object);
    if (throwIfFailed(env, rv)) return nullptr;
    // Null without an exception is the end of the search.
    if (object == 0) {
        trace("JNI: No more objects (NULL found)\n");
        return nullptr;
    }
    trace("JNI: creating PKCS11Object (%li)...", object);
    jobject peer = newObjectPeer(env, self, object);
    if (peer == nullptr) return nullptr;
    trace("OK\n");
    return peer;
}

BRIDGE_NATIVE(void) Java_it_vantrel_pkcs11_nat_NativePKCS11Session_findObjectsFinal(JNIEnv* env, jobject self) {
    const BridgeLockHold hold;
    trace("JNI: start PKCS11Session.findObjectsFinal... ");
    CK_SESSION_HANDLE session;
    if (!getSessionHandle(env, self, &session)) return;
    trace("(session= %li)\n", session);
    CK_RV rv = bridgeFindObjectsFinal(session);
    throwIfFailed(env, rv);
}

BRIDGE_NATIVE(jobject)
Java_it_vantrel_pkcs11_nat_NativePKCS11Session_createObject(JNIEnv* env, jobject self, jintArray types,
                                                            jobjectArray values) {
    const BridgeLockHold hold;
    trace("JNI: start PKCS11Session.createObj... ");
    CK_SESSION_HANDLE session;
    if (!getSessionHandle(env, self, &session)) return nullptr;
    trace("(ses=%li)\n", session);
    OwnedTemplate templ;
    if (!buildTemplate(env, types, values, &templ)) return nullptr;
    CK_OBJECT_HANDLE object = 0;
    CK_RV rv = bridgeCreateObject(session, templ.entries, templ.count, &object);
    trace("JNI: createObject PKCS11Session.createObj...\n");
    jobject peer = nullptr;
    if (!throwIfFailed(env, rv)) {
        trace("JNI: creating PKCS11Object (%li)...", object);
        // An object the module created stays on the token even when its peer cannot be built.
        peer = newObjectPeer(env, self, object);
        trace("OK\n");
    }
    templ.release();
    trace("JNI: free PKCS11Session.createObj...\n");
    trace("JNI: free(ckAttr) PKCS11Session.createObj...\n");
    return peer;
}

// The four texts of the certificate template, in the order they are taken and announced.
enum CertificateText { LabelText, SubjectText, SerialText, IssuerText, CertificateTextCount };

BRIDGE_NATIVE(void)
Java_it_vantrel_pkcs11_nat_NativePKCS11Session_installCertificate(JNIEnv* env, jobject self, jint vendorValue, jint,
                                                                  jbyteArray certificate, jint, jint, jstring subject,
                                                                  jstring serialNumber, jstring issuer, jstring label) {
    const BridgeLockHold hold;
    traceAlways("JNI: start PKCS11Session.createObj... ");
    CK_SESSION_HANDLE session;
    if (!getSessionHandle(env, self, &session)) return;
    traceAlways("(ses=%li)\n", session);
    jstring texts[CertificateTextCount] = {label, subject, serialNumber, issuer};
    bool missing = certificate == nullptr;
    for (jstring text : texts) missing = missing || text == nullptr;
    if (missing) {
        throwMessageException(env, "Internal error (Null parameter)");
        return;
    }
    jsize valueLength = env->GetArrayLength(certificate);
    NativeBytes value;
    if (!value.copyIn(env, certificate, valueLength)) {
        throwInsteadOfPending(env, "Internal error: Out of memory");
        return;
    }
    // Stored as standard UTF-8, as every String attribute the bridge writes.
    static const CK_ATTRIBUTE_TYPE textTypes[CertificateTextCount] = {CKA_LABEL, CKA_SUBJECT, CKA_SERIAL_NUMBER,
                                                                      CKA_ISSUER};
    OwnedTemplate textEntries;
    if (!allocateTemplate(env, CertificateTextCount, TemplateSteps::Quiet, &textEntries)) return;
    for (int i = 0; i < CertificateTextCount; i++) {
        textEntries.entries[i].type = textTypes[i];
        if (!stringToAttribute(env, texts[i], &textEntries.entries[i])) return;
        textEntries.count = static_cast<CK_ULONG>(i) + 1;
        traceAlways("Label: %s\n", static_cast<const char*>(textEntries.entries[i].pValue));
    }
    CK_OBJECT_CLASS objectClass = CKO_CERTIFICATE;
    CK_CERTIFICATE_TYPE certificateType = CKC_X_509;
    CK_ULONG vendorNumber = jintToUlong(vendorValue);
    CK_ATTRIBUTE templ[] = {
        {CKA_CLASS, &objectClass, sizeof objectClass},
        {CKA_CERTIFICATE_TYPE, &certificateType, sizeof certificateType},
        {CKA_VENDOR_CERTIFICATE_VALUE, &vendorNumber, sizeof vendorNumber},
        {CKA_VALUE, value.bytes(), jintToUlong(valueLength)},
        textEntries.entries[LabelText],
        textEntries.entries[SubjectText],
        textEntries.entries[SerialText],
        textEntries.entries[IssuerText],
    };
    CK_OBJECT_HANDLE object = 0;
    CK_RV rv = bridgeCreateObject(session, templ, sizeof templ / sizeof templ[0], &object);
    if (rv != CKR_OK) {
        traceAlways("C_CreateObject fails.");
        throwErrorCode(env, rv);
    }
}
