// Native units of the bridge frame: binding, module call wrappers and trace, driven against
// the scriptable module (under AddressSanitizer and UndefinedBehaviorSanitizer).
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "frame.h"
#include "jni_double.h"

// The natives these units call, as the JVM finds them.
extern "C" {
JNIEXPORT jlong JNICALL Java_it_vantrel_pkcs11_nat_NativePKCS11_loadPKCS11Library(JNIEnv*, jobject, jstring);
JNIEXPORT jobjectArray JNICALL Java_it_vantrel_pkcs11_nat_NativePKCS11_getRSAcredential(JNIEnv*, jobject, jstring, jint,
                                                                                        jstring);
JNIEXPORT jobject JNICALL Java_it_vantrel_pkcs11_nat_NativePKCS11Slot_openSession(JNIEnv*, jobject, jint, jobject,
                                                                                  jobject);
JNIEXPORT void JNICALL Java_it_vantrel_pkcs11_nat_NativePKCS11Session_close(JNIEnv*, jobject);
JNIEXPORT void JNICALL Java_it_vantrel_pkcs11_nat_NativePKCS11Session_login(JNIEnv*, jobject, jboolean, jstring);
JNIEXPORT void JNICALL Java_it_vantrel_pkcs11_nat_NativePKCS11Session_initPIN(JNIEnv*, jobject, jstring);
JNIEXPORT void JNICALL Java_it_vantrel_pkcs11_nat_NativePKCS11Session_setPIN(JNIEnv*, jobject, jstring, jstring);
JNIEXPORT void JNICALL Java_it_vantrel_pkcs11_nat_NativePKCS11Session_installCertificate(JNIEnv*, jobject, jint, jint,
                                                                                         jbyteArray, jint, jint,
                                                                                         jstring, jstring, jstring,
                                                                                         jstring);
JNIEXPORT void JNICALL Java_it_vantrel_pkcs11_nat_NativePKCS11Session_logintirvex(JNIEnv*, jobject, jboolean,
                                                                                  jbyteArray);
JNIEXPORT void JNICALL Java_it_vantrel_pkcs11_nat_NativePKCS11Session_setPINtirvex(JNIEnv*, jobject, jbyteArray,
                                                                                   jbyteArray);
JNIEXPORT jint JNICALL Java_it_vantrel_pkcs11_nat_NativePKCS11Session_encrypt(JNIEnv*, jobject, jbyteArray, jint, jint,
                                                                              jbyteArray, jint);
JNIEXPORT jint JNICALL Java_it_vantrel_pkcs11_nat_NativePKCS11Session_decrypt(JNIEnv*, jobject, jbyteArray, jint, jint,
                                                                              jbyteArray, jint);
JNIEXPORT void JNICALL Java_it_vantrel_pkcs11_nat_NativePKCS11Object_setAttributeValue(JNIEnv*, jobject, jint, jobject);
JNIEXPORT jobject JNICALL Java_it_vantrel_pkcs11_nat_NativePKCS11Session_getInfo(JNIEnv*, jobject);
JNIEXPORT jstring JNICALL Java_it_vantrel_pkcs11_nat_NativePKCS11Slot_getTokenSN(JNIEnv*, jobject);
JNIEXPORT void JNICALL Java_it_vantrel_pkcs11_nat_NativePKCS11Session_findObjectsInit(JNIEnv*, jobject, jintArray,
                                                                                      jobjectArray);
JNIEXPORT jobject JNICALL Java_it_vantrel_pkcs11_nat_NativePKCS11Session_findObject(JNIEnv*, jobject);
JNIEXPORT void JNICALL Java_it_vantrel_pkcs11_nat_NativePKCS11Object_destroy(JNIEnv*, jobject);
JNIEXPORT jint JNICALL Java_it_vantrel_pkcs11_nat_NativePKCS11Object_size(JNIEnv*, jobject);
JNIEXPORT void JNICALL Java_it_vantrel_pkcs11_nat_NativePKCS11Slot_closeAllSessions(JNIEnv*, jobject);
JNIEXPORT jstring JNICALL Java_it_vantrel_pkcs11_nat_NativePKCS11Object_getStringAttributeValue(JNIEnv*, jobject, jint);
}

namespace {

const std::string scriptDir = SCRIPT_DIR;

void writeScript(const std::string& text) {
    std::ofstream(scriptDir + "/script.txt", std::ios::binary) << text;
    std::remove((scriptDir + "/record.txt").c_str());
}

std::string recorded() {
    std::ifstream in(scriptDir + "/record.txt", std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

class FrameTest : public ::testing::Test {
protected:
    void SetUp() override {
        mkdir(scriptDir.c_str(), 0755);
        setenv("P11SCRIPT_FILE", (scriptDir + "/script.txt").c_str(), 1);
        setenv("P11SCRIPT_RECORD", (scriptDir + "/record.txt").c_str(), 1);
        writeScript("");
    }
    void TearDown() override {
        releaseModule();
        bridgeState.traceEnabled = 0;
    }
    // Binds the scriptable module and initialises it, then forgets the calls so far.
    void bindInitialised(const std::string& script) {
        writeScript(script);
        CK_FUNCTION_LIST_PTR list = nullptr;
        ASSERT_EQ(CKR_OK, bindModule(SCRIPT_MODULE, &list));
        ASSERT_EQ(CKR_OK, bridgeInitialize());
        std::remove((scriptDir + "/record.txt").c_str());
    }
};

TEST_F(FrameTest, BindingFailuresLeaveTheModuleLoaded) {
    CK_FUNCTION_LIST_PTR list = nullptr;
    EXPECT_EQ(BRIDGE_ERR_NO_FUNCTION, bindModule("/nonexistent/module.so", &list));
    EXPECT_EQ(nullptr, bridgeState.moduleHandle);
    EXPECT_EQ(BRIDGE_ERR_NO_FUNCTION, bindModule(SCRIPT_MODULE_NOLIST, &list));
    EXPECT_NE(nullptr, bridgeState.moduleHandle);
    EXPECT_EQ(nullptr, list);
    writeScript("getlist.rv 0x30\n");
    EXPECT_EQ(CKR_DEVICE_ERROR, bindModule(SCRIPT_MODULE, &list));
    EXPECT_EQ(nullptr, bridgeState.functionList);
    writeScript("");
    EXPECT_EQ(CKR_OK, bindModule(SCRIPT_MODULE, &list));
    EXPECT_EQ(list, bridgeState.functionList);
    EXPECT_EQ(0, bridgeState.moduleInitialized);
}

TEST_F(FrameTest, WrappersRefuseBeforeInitialiseWithoutTrace) {
    CK_FUNCTION_LIST_PTR list = nullptr;
    ASSERT_EQ(CKR_OK, bindModule(SCRIPT_MODULE, &list));
    bridgeState.traceEnabled = 1;
    testing::internal::CaptureStdout();
    CK_INFO info;
    CK_SLOT_ID* slots = nullptr;
    CK_ULONG count = 0;
    CK_SESSION_HANDLE session = 0;
    CK_ATTRIBUTE attribute = {CKA_LABEL, nullptr, 0};
    EXPECT_EQ(BRIDGE_ERR_NOT_INITIALIZED, bridgeGetInfo(&info));
    EXPECT_EQ(BRIDGE_ERR_NOT_INITIALIZED, bridgeGetSlotList(CK_TRUE, &slots, &count));
    EXPECT_EQ(BRIDGE_ERR_NOT_INITIALIZED, bridgeOpenSession(0, 6, &session));
    EXPECT_EQ(BRIDGE_ERR_NOT_INITIALIZED, bridgeLogin(1, CKU_USER, "1234"));
    EXPECT_EQ(BRIDGE_ERR_NOT_INITIALIZED, bridgeGetAttributeValue(1, 2, &attribute));
    EXPECT_EQ(BRIDGE_ERR_NOT_INITIALIZED, bridgeOpenSessionAndGetRSACredential("a", 1, 0, nullptr, 0, &session,
                                                                               &session, &session, &session, &session));
    EXPECT_EQ("", testing::internal::GetCapturedStdout());
    EXPECT_EQ("C_GetFunctionList\n", recorded());
}

TEST_F(FrameTest, NullEntryStopsAfterTheStartText) {
    bindInitialised("null.C_GetSlotInfo 1\n");
    bridgeState.traceEnabled = 1;
    testing::internal::CaptureStdout();
    CK_SLOT_INFO info;
    EXPECT_EQ(BRIDGE_ERR_NO_FUNCTION, bridgeGetSlotInfo(0, &info));
    EXPECT_EQ("JNI:BRIDGE: Calling C_GetSlotInfo...", testing::internal::GetCapturedStdout());
    EXPECT_EQ("", recorded());
}

TEST_F(FrameTest, InitialiseAndFinaliseNeedABoundModule) {
    EXPECT_EQ(BRIDGE_ERR_NO_FUNCTION, bridgeInitialize());
    EXPECT_EQ(BRIDGE_ERR_NO_FUNCTION, bridgeFinalize());
    bindInitialised("rv.C_Finalize 0x5\n");
    bridgeState.rsaCredentialEntry = reinterpret_cast<CK_C_OpenSessionAndGetRSACredential>(
        platform::findSymbol(bridgeState.moduleHandle, "C_OpenSessionAndGetRSACredential"));
    ASSERT_NE(nullptr, bridgeState.rsaCredentialEntry);
    EXPECT_EQ(CKR_GENERAL_ERROR, bridgeFinalize());
    EXPECT_EQ(nullptr, bridgeState.moduleHandle);
    EXPECT_EQ(nullptr, bridgeState.functionList);
    EXPECT_EQ(nullptr, bridgeState.rsaCredentialEntry);
    EXPECT_EQ(0, bridgeState.moduleInitialized);
    EXPECT_EQ(BRIDGE_ERR_NO_FUNCTION, bridgeInitialize());
    EXPECT_EQ("C_Finalize reserved=null\n", recorded());
}

TEST_F(FrameTest, SlotListTwoCallsAndTheirTrace) {
    bindInitialised("slots 7 8 9\n");
    bridgeState.traceEnabled = 1;
    testing::internal::CaptureStdout();
    CK_SLOT_ID* slots = nullptr;
    CK_ULONG count = 0;
    ASSERT_EQ(CKR_OK, bridgeGetSlotList(CK_FALSE, &slots, &count));
    EXPECT_EQ("JNI:BRIDGE: Calling C_GetSlotList... (slots=3)... 0 Done\n", testing::internal::GetCapturedStdout());
    ASSERT_EQ(3u, count);
    EXPECT_EQ(7u, slots[0]);
    EXPECT_EQ(9u, slots[2]);
    std::free(slots);
}

TEST_F(FrameTest, ListingFaultsOfTheModuleAreRefusedWithoutLeaks) {
    CK_SLOT_ID* slots = nullptr;
    CK_ULONG count = 0;
    bindInitialised("slots 1 2\nslots.growBy 2\n");
    EXPECT_EQ(CKR_BUFFER_TOO_SMALL, bridgeGetSlotList(CK_FALSE, &slots, &count));
    EXPECT_EQ(nullptr, slots);
    writeScript("slots 1 2\nslots.count 0xFFFFFFFFFFFFFFFF\n");
    EXPECT_EQ(BRIDGE_ERR_NO_MEMORY, bridgeGetSlotList(CK_FALSE, &slots, &count));
    writeScript("slots 1 2\nslots.claim 3\n");
    EXPECT_EQ(BRIDGE_ERR_BAD_ANSWER, bridgeGetSlotList(CK_FALSE, &slots, &count));
    EXPECT_EQ(nullptr, slots);
    EXPECT_EQ(0u, count);
    writeScript("slots \n");
    ASSERT_EQ(CKR_OK, bridgeGetSlotList(CK_FALSE, &slots, &count));
    EXPECT_EQ(0u, count);
    std::free(slots);
    CK_MECHANISM_TYPE* mechanisms = nullptr;
    writeScript("mechanisms 1 2 3\nmechanisms.growBy 1\n");
    EXPECT_EQ(CKR_BUFFER_TOO_SMALL, bridgeGetMechanismList(0, &mechanisms, &count));
    EXPECT_EQ(nullptr, mechanisms);
    // Asked for one object, the module claims two.
    CK_OBJECT_HANDLE object = 9;
    writeScript("find.handles 4 5\nfind.claim 2\n");
    EXPECT_EQ(BRIDGE_ERR_BAD_ANSWER, bridgeFindObjects(1, &object));
    EXPECT_EQ(0u, object);
}

TEST_F(FrameTest, AttributeValueIsZeroTerminatedAndFaultsAreRefused) {
    bindInitialised("attribute.3 41424344\n");
    CK_ATTRIBUTE attribute = {CKA_LABEL, nullptr, 0};
    ASSERT_EQ(CKR_OK, bridgeGetAttributeValue(1, 2, &attribute));
    ASSERT_EQ(4u, attribute.ulValueLen);
    EXPECT_STREQ("ABCD", static_cast<char*>(attribute.pValue));
    std::free(attribute.pValue);

    writeScript("attribute.3 41\nattribute.3.length 0xFFFFFFFFFFFFFFFF\n");
    attribute = {CKA_LABEL, nullptr, 0};
    EXPECT_EQ(BRIDGE_ERR_NO_MEMORY, bridgeGetAttributeValue(1, 2, &attribute));
    EXPECT_EQ(nullptr, attribute.pValue);
    writeScript("attribute.3 41\nattribute.3.claim 64\n");
    EXPECT_EQ(BRIDGE_ERR_BAD_ANSWER, bridgeGetAttributeValue(1, 2, &attribute));
    EXPECT_EQ(nullptr, attribute.pValue);
    writeScript("attribute.3 41424344\nattribute.3.length 2\n");
    EXPECT_EQ(CKR_BUFFER_TOO_SMALL, bridgeGetAttributeValue(1, 2, &attribute));
    EXPECT_EQ(nullptr, attribute.pValue);
}

TEST_F(FrameTest, PinWrappersPassLengthsAndTraceNoPin) {
    bindInitialised("");
    bridgeState.traceEnabled = 1;
    testing::internal::CaptureStdout();
    EXPECT_EQ(CKR_OK, bridgeLogin(5, CKU_USER, "secret"));
    EXPECT_EQ(CKR_OK, bridgeSetPINBytes(5, reinterpret_cast<CK_BYTE_PTR>(const_cast<char*>("ab")), 2,
                                        reinterpret_cast<CK_BYTE_PTR>(const_cast<char*>("c\0d")), 3));
    EXPECT_EQ(CKR_OK, bridgeLoginProtectedPath(5, CKU_SO));
    EXPECT_EQ(
        "JNI:BRIDGE: Calling C_Login (l=6)... Done\n"
        "JNI:BRIDGE: Calling C_SetPIN...JNI:BRIDGE: Calling C_SetPIN (len=2)...JNI:BRIDGE: Calling C_SetPIN "
        "(len=3)... Done\n"
        "JNI:BRIDGE: Calling C_Login... Done\n",
        testing::internal::GetCapturedStdout());
    EXPECT_EQ(
        "C_Login session=5 userType=1 pin=736563726574 pinLen=6\n"
        "C_SetPIN session=5 old=6162 oldLen=2 new=630064 newLen=3\n"
        "C_Login session=5 userType=0 pin=null pinLen=0\n",
        recorded());
}

TEST_F(FrameTest, TraceStaysOnAfterTheVariableIsRemoved) {
    setenv("PKCS11_OXL_DEBUG", "1", 1);
    applyTraceSetting();
    unsetenv("PKCS11_OXL_DEBUG");
    applyTraceSetting();
    testing::internal::CaptureStdout();
    trace("still %s\n", "on");
    EXPECT_EQ("still on\n", testing::internal::GetCapturedStdout());
}

TEST_F(FrameTest, Conversions) {
    CK_VERSION v211 = {2, 11};
    CK_VERSION v10 = {1, 0};
    EXPECT_EQ(523, versionToInt(v211));
    EXPECT_EQ(256, versionToInt(v10));
    EXPECT_EQ(0xFFFFFFFFUL, jintToUlong(-1));
    EXPECT_EQ(-1, ulongToJint(0xFFFFFFFFUL));
    EXPECT_EQ(JNI_TRUE, bboolToJBoolean(2));
    EXPECT_EQ(nullptr, allocateElements(~size_t(0) / 4, 8));
}

// Natives in a JNI environment of the tests' own (jni_double.h), where the JVM can be made
// to refuse what a real one refuses only when out of memory.
class NativeFailureTest : public FrameTest {
protected:
    void SetUp() override {
        FrameTest::SetUp();
        bindInitialised("");
        fresh();
    }
    // A new environment and peers, the module's script and record afresh.
    void fresh() {
        writeScript("session 44\nrsa.session 33\nrsa.private 9\n");
        jnidouble::onReset = releaseLookups;
        env = jnidouble::reset();
        module = jnidouble::newInstance(BRIDGE_CLASS_MODULE, "unused", 0);
        slot = jnidouble::newInstance(BRIDGE_CLASS_SLOT, "slotID", 1, "module", module);
        session = jnidouble::newInstance(BRIDGE_CLASS_SESSION, "sessionID", 7, "slot", slot);
        object = jnidouble::newInstance(BRIDGE_CLASS_OBJECT, "objectID", 5, "session", session);
    }
    static jstring text(const char* ascii) {
        return jnidouble::newString(std::u16string(ascii, ascii + strlen(ascii)));
    }
    static jbyteArray bytes(std::vector<jbyte> values) { return jnidouble::newByteArray(values); }
    // No JNI call made on top of a pending exception, nothing kept, and this exception pending.
    static void expectPending(const std::string& exceptionClass, const std::string& detail) {
        jnidouble::checkAllReleased();
        EXPECT_EQ(std::vector<std::string>(), jnidouble::problems);
        EXPECT_EQ(exceptionClass, jnidouble::pendingClass());
        EXPECT_EQ(detail, jnidouble::pendingDetail());
    }
    JNIEnv* env = nullptr;
    jobject module = nullptr, slot = nullptr, session = nullptr, object = nullptr;
};

const std::string bridgeException = BRIDGE_CLASS_EXCEPTION;
const std::string outOfMemory = "java/lang/OutOfMemoryError";

TEST_F(NativeFailureTest, AJvmRefusalIsNeverBuiltUponNorLeftUnexplained) {
    struct Case {
        const char* name;
        const char* refused;
        int nth;
        bool withoutException;  // a JVM that refuses without an exception of its own
        std::function<void()> call;
        const char* message;
    };
    const Case cases[] = {
        {"load", "GetStringUTFChars", 1, false,
         [this] { Java_it_vantrel_pkcs11_nat_NativePKCS11_loadPKCS11Library(env, module, text(SCRIPT_MODULE)); },
         "Internal error (Null parameter)"},
        {"login", "GetStringUTFChars", 1, false,
         [this] { Java_it_vantrel_pkcs11_nat_NativePKCS11Session_login(env, session, 0, text("1")); },
         "Internal error"},
        {"initPIN", "GetStringUTFChars", 1, false,
         [this] { Java_it_vantrel_pkcs11_nat_NativePKCS11Session_initPIN(env, session, text("1")); }, "Internal error"},
        {"setPIN old", "GetStringUTFChars", 1, false,
         [this] { Java_it_vantrel_pkcs11_nat_NativePKCS11Session_setPIN(env, session, text("1"), text("2")); },
         "Internal error"},
        {"setPIN new", "GetStringUTFChars", 2, false,
         [this] { Java_it_vantrel_pkcs11_nat_NativePKCS11Session_setPIN(env, session, text("1"), text("2")); },
         "Internal error"},
        {"credential alias", "GetStringUTFChars", 1, false,
         [this] { Java_it_vantrel_pkcs11_nat_NativePKCS11_getRSAcredential(env, module, text("a"), 0, text("1")); },
         "Internal error"},
        {"credential PIN", "GetStringUTFChars", 2, false,
         [this] { Java_it_vantrel_pkcs11_nat_NativePKCS11_getRSAcredential(env, module, text("a"), 0, text("1")); },
         "Internal error"},
        {"String attribute", "GetStringUTFChars", 1, false,
         [this] { Java_it_vantrel_pkcs11_nat_NativePKCS11Object_setAttributeValue(env, object, CKA_LABEL, text("l")); },
         "Internal error (creating String)"},
        {"certificate text", "GetStringUTFChars", 2, false,
         [this] {
             Java_it_vantrel_pkcs11_nat_NativePKCS11Session_installCertificate(
                 env, session, 0, 0, bytes({1}), 0, 0, text("s"), text("n"), text("i"), text("l"));
         },
         "Internal error (creating String)"},
        {"vendor login", "GetByteArrayElements", 1, true,
         [this] { Java_it_vantrel_pkcs11_nat_NativePKCS11Session_logintirvex(env, session, 0, bytes({1})); },
         "Internal error: Out of memory"},
        {"vendor setPIN", "GetByteArrayElements", 2, true,
         [this] { Java_it_vantrel_pkcs11_nat_NativePKCS11Session_setPINtirvex(env, session, bytes({1}), bytes({2})); },
         "Internal error: Out of memory"},
        // Encryption and decryption pin their input, then their output.
        {"encrypt input", "GetPrimitiveArrayCritical", 1, true,
         [this] {
             Java_it_vantrel_pkcs11_nat_NativePKCS11Session_encrypt(env, session, bytes({1}), 0, 1, bytes({0}), 0);
         },
         "Internal error: Out of memory"},
        {"decrypt output", "GetPrimitiveArrayCritical", 2, true,
         [this] {
             Java_it_vantrel_pkcs11_nat_NativePKCS11Session_decrypt(env, session, bytes({1}), 0, 1, bytes({0}), 0);
         },
         "Internal error: Out of memory"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fresh();
        jnidouble::refuse(c.refused, c.nth, c.withoutException);
        c.call();
        expectPending(bridgeException, c.message);
    }
}

TEST_F(NativeFailureTest, ASessionWhosePeerCannotBeBuiltIsClosed) {
    struct Case {
        const char* refusedPeer;
        bool credential;  // getRSAcredential, which opens session 33; openSession opens 44
    };
    const Case cases[] = {{BRIDGE_CLASS_SESSION, false},
                          {BRIDGE_CLASS_SLOT, true},
                          {BRIDGE_CLASS_SESSION, true},
                          {BRIDGE_CLASS_OBJECT, true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.refusedPeer);
        fresh();
        std::string refused = std::string("NewObject ") + c.refusedPeer;
        jnidouble::refuse(refused);
        jobject result =
            c.credential ? Java_it_vantrel_pkcs11_nat_NativePKCS11_getRSAcredential(env, module, text("a"), 0, nullptr)
                         : Java_it_vantrel_pkcs11_nat_NativePKCS11Slot_openSession(env, slot, 6, nullptr, nullptr);
        EXPECT_EQ(nullptr, result);
        // The JVM's own error is what the caller sees.
        expectPending(outOfMemory, refused);
        EXPECT_NE(std::string::npos,
                  recorded().find(c.credential ? "C_CloseSession session=33\n" : "C_CloseSession session=44\n"))
            << recorded();
    }
}

// A module whose handles do not fit in 32 bits (pointers, or the slot in the top bits): Java
// sees an alias, and the module gets the whole handle back; handles that fit stay as they are.
TEST_F(NativeFailureTest, WideHandlesTravelAsAliasesAndComeBackWhole) {
    writeScript("session 0x0100000000000005\n");
    jobject opened = Java_it_vantrel_pkcs11_nat_NativePKCS11Slot_openSession(env, slot, 6, nullptr, nullptr);
    ASSERT_NE(nullptr, opened);
    jfieldID sessionID = env->GetFieldID(env->FindClass(BRIDGE_CLASS_SESSION), "sessionID", "I");
    jint alias = env->GetIntField(opened, sessionID);
    EXPECT_GE(static_cast<uint32_t>(alias), 0xFF000000u);  // the alias range
    Java_it_vantrel_pkcs11_nat_NativePKCS11Session_close(env, opened);
    EXPECT_NE(std::string::npos, recorded().find("C_CloseSession session=72057594037927941\n")) << recorded();
    expectPending("", "");

    // Many wide handles keep distinct aliases, the same handle its first one.
    std::vector<jint> values;
    for (CK_ULONG i = 0; i < 5000; i++) {
        jint value;
        ASSERT_TRUE(handleToJava(HandleKind::Object, 7, (CK_ULONG(i + 1) << 40) | 7, &value));
        values.push_back(value);
    }
    for (CK_ULONG i = 0; i < 5000; i++) {
        EXPECT_EQ((CK_ULONG(i + 1) << 40) | 7, handleFromJava(HandleKind::Object, values[i]));
        jint again;
        ASSERT_TRUE(handleToJava(HandleKind::Object, 7, (CK_ULONG(i + 1) << 40) | 7, &again));
        EXPECT_EQ(values[i], again);
    }
    jint small;
    ASSERT_TRUE(handleToJava(HandleKind::Object, 7, 0x80000001UL, &small));
    EXPECT_EQ(static_cast<jint>(0x80000001u), small);
    EXPECT_EQ(0x80000001UL, handleFromJava(HandleKind::Object, small));
    // An alias stands for its own kind only.
    EXPECT_EQ(CK_INVALID_HANDLE, handleFromJava(HandleKind::Session, values[0]));
    // A released module takes its aliases with it: they never resolve again.
    releaseModule();
    EXPECT_EQ(0u, keptHandleCount());
    EXPECT_EQ(CK_INVALID_HANDLE, handleFromJava(HandleKind::Session, alias));
    EXPECT_EQ(CK_INVALID_HANDLE, handleFromJava(HandleKind::Object, values[0]));
}

// The conversion error line is written also when the JVM itself refuses the string.
TEST_F(NativeFailureTest, TheErrorLineFollowsATextTheJvmRefuses) {
    jnidouble::refuse("NewString");
    testing::internal::CaptureStdout();
    EXPECT_EQ(nullptr, Java_it_vantrel_pkcs11_nat_NativePKCS11Slot_getTokenSN(env, slot));
    EXPECT_EQ("JNI:##########ERROR################\n", testing::internal::GetCapturedStdout());
    expectPending(outOfMemory, "NewString");
}

// Java code a native runs while it holds the bridge lock (here the static initialiser that
// FindClass runs) may call the bridge again on the same thread: no deadlock, and the class the
// inner call kept is not kept a second time.
TEST_F(NativeFailureTest, JavaCodeRunByANativeMayCallTheBridgeAgain) {
    static JNIEnv* inner;
    static jobject innerSession;
    static int entered;
    inner = env;
    innerSession = session;
    entered = 0;
    jnidouble::Behaviour behaviour;
    behaviour.journal = [](const std::string& line) {
        if (line == "FindClass it/vantrel/pkcs11/PKCS11SessionInfo" && entered++ == 0)
            EXPECT_NE(nullptr, Java_it_vantrel_pkcs11_nat_NativePKCS11Session_getInfo(inner, innerSession));
    };
    jnidouble::install(behaviour);
    EXPECT_NE(nullptr, Java_it_vantrel_pkcs11_nat_NativePKCS11Session_getInfo(env, session));
    jnidouble::install({});
    EXPECT_EQ(2, entered);
    expectPending("", "");
    releaseLookups(env);
    EXPECT_EQ(0, jnidouble::liveWeakGlobalRefs());

    // A kept class the collector took is looked up again.
    EXPECT_NE(nullptr, Java_it_vantrel_pkcs11_nat_NativePKCS11Session_getInfo(env, session));
    jnidouble::clearWeakGlobalRefs();
    EXPECT_NE(nullptr, Java_it_vantrel_pkcs11_nat_NativePKCS11Session_getInfo(env, session));
    expectPending("", "");
}

// A module double that hands out a fresh handle for every session and every object found, and
// keeps the last handle it was given.
namespace fresh {
CK_ULONG next = 0;
CK_ULONG received = 0;
CK_RV openSession(CK_SLOT_ID, CK_FLAGS, CK_VOID_PTR, CK_NOTIFY, CK_SESSION_HANDLE_PTR session) {
    *session = next++;
    return CKR_OK;
}
CK_RV closeSession(CK_SESSION_HANDLE session) {
    received = session;
    return CKR_OK;
}
CK_RV closeAllSessions(CK_SLOT_ID) { return CKR_OK; }
CK_RV sessionInfo(CK_SESSION_HANDLE session, CK_SESSION_INFO* info) {
    received = session;
    std::memset(info, 0, sizeof *info);
    return session == CK_INVALID_HANDLE ? CKR_SESSION_HANDLE_INVALID : CKR_OK;
}
CK_RV findInit(CK_SESSION_HANDLE, CK_ATTRIBUTE_PTR, CK_ULONG) { return CKR_OK; }
CK_RV find(CK_SESSION_HANDLE, CK_OBJECT_HANDLE_PTR object, CK_ULONG, CK_ULONG_PTR found) {
    *object = next++;
    *found = 1;
    return CKR_OK;
}
CK_RV destroy(CK_SESSION_HANDLE, CK_OBJECT_HANDLE object) {
    received = object;
    return CKR_OK;
}
CK_RV size(CK_SESSION_HANDLE, CK_OBJECT_HANDLE object, CK_ULONG_PTR size) {
    received = object;
    *size = 1;
    return object == CK_INVALID_HANDLE ? CKR_OBJECT_HANDLE_INVALID : CKR_OK;
}
}  // namespace fresh

class AliasTest : public NativeFailureTest {
protected:
    void SetUp() override {
        NativeFailureTest::SetUp();
        bind();
    }
    // The double in place of a loaded and initialised module; a reload when called again.
    void bind() {
        releaseModule();
        list.C_OpenSession = fresh::openSession;
        list.C_CloseSession = fresh::closeSession;
        list.C_CloseAllSessions = fresh::closeAllSessions;
        list.C_GetSessionInfo = fresh::sessionInfo;
        list.C_FindObjectsInit = fresh::findInit;
        list.C_FindObjects = fresh::find;
        list.C_DestroyObject = fresh::destroy;
        list.C_GetObjectSize = fresh::size;
        bridgeState.functionList = &list;
        bridgeState.moduleInitialized = 1;
    }
    jobject open(CK_ULONG handle, jobject onSlot = nullptr) {
        fresh::next = handle;
        return Java_it_vantrel_pkcs11_nat_NativePKCS11Slot_openSession(env, onSlot ? onSlot : slot, 6, nullptr,
                                                                       nullptr);
    }
    jobject find(jobject in, CK_ULONG handle) {
        fresh::next = handle;
        Java_it_vantrel_pkcs11_nat_NativePKCS11Session_findObjectsInit(env, in, nullptr, nullptr);
        return Java_it_vantrel_pkcs11_nat_NativePKCS11Session_findObject(env, in);
    }
    CK_ULONG reaching(jobject session) {
        fresh::received = 99;
        Java_it_vantrel_pkcs11_nat_NativePKCS11Session_getInfo(env, session);
        return fresh::received;
    }
    CK_FUNCTION_LIST list = {};
};

constexpr CK_ULONG wide = CK_ULONG(1) << 40;

TEST_F(AliasTest, TheTableHoldsWhatIsOpenOnly) {
    Java_it_vantrel_pkcs11_nat_NativePKCS11Session_close(env, open(wide));  // classes found before the mark
    size_t mark = jnidouble::objectCount();
    for (CK_ULONG i = 0; i < 1000000; i++) {
        Java_it_vantrel_pkcs11_nat_NativePKCS11Session_close(env, open(wide + i));
        jnidouble::collect(mark);
    }
    EXPECT_EQ(0u, keptHandleCount());
    expectPending("", "");

    // Objects go with their session, or when destroyed; closeAllSessions takes its slot's only.
    jobject otherSlot = jnidouble::newInstance(BRIDGE_CLASS_SLOT, "slotID", 2, "module", module);
    jobject first = open(wide + 1), second = open(wide + 2), elsewhere = open(wide + 3, otherSlot);
    jobject firstObject = find(first, wide + 10);
    find(first, wide + 11);
    find(second, wide + 12);
    find(elsewhere, wide + 13);
    EXPECT_EQ(7u, keptHandleCount());
    Java_it_vantrel_pkcs11_nat_NativePKCS11Object_destroy(env, firstObject);
    EXPECT_EQ(wide + 10, fresh::received);
    EXPECT_EQ(6u, keptHandleCount());
    Java_it_vantrel_pkcs11_nat_NativePKCS11Session_close(env, first);
    EXPECT_EQ(4u, keptHandleCount());
    Java_it_vantrel_pkcs11_nat_NativePKCS11Slot_closeAllSessions(env, slot);
    EXPECT_EQ(2u, keptHandleCount());
    EXPECT_EQ(wide + 3, reaching(elsewhere));
    expectPending("", "");
}

// Handles that fit but lie where aliases count down from are aliased too, so that neither is
// taken for the other.
TEST_F(AliasTest, AFittingHandleInTheAliasRangeRoundTrips) {
    jobject first = open(wide), second = open(wide + 1), fitting = open(0xFFFFFFFDul);
    EXPECT_EQ(wide, reaching(first));
    EXPECT_EQ(wide + 1, reaching(second));
    EXPECT_EQ(0xFFFFFFFDul, reaching(fitting));
    jobject object = find(fitting, 0xFFFFFFFEul);
    fresh::received = 0;
    Java_it_vantrel_pkcs11_nat_NativePKCS11Object_size(env, object);
    EXPECT_EQ(0xFFFFFFFEul, fresh::received);
    expectPending("", "");
}

TEST_F(AliasTest, AStalePeerAfterAReloadReachesTheModuleAsAnInvalidHandle) {
    jobject before = open(wide);
    jobject object = find(before, wide + 5);
    bind();  // finalized and loaded again
    jobject after = open(wide + 7);
    EXPECT_EQ(wide + 7, reaching(after));
    EXPECT_EQ(CK_INVALID_HANDLE, reaching(before));
    fresh::received = 99;
    Java_it_vantrel_pkcs11_nat_NativePKCS11Object_size(env, object);
    EXPECT_EQ(CK_INVALID_HANDLE, fresh::received);
    EXPECT_EQ(bridgeException, jnidouble::pendingClass());
}

TEST_F(NativeFailureTest, PinsAndTheAliasAreGivenBackInTheOrderTaken) {
    Java_it_vantrel_pkcs11_nat_NativePKCS11Session_setPIN(env, session, text("old"), text("new"));
    Java_it_vantrel_pkcs11_nat_NativePKCS11Session_setPINtirvex(env, session, bytes({1}), bytes({2}));
    EXPECT_NE(nullptr,
              Java_it_vantrel_pkcs11_nat_NativePKCS11_getRSAcredential(env, module, text("alias"), 0, text("pin")));
    expectPending("", "");
    EXPECT_EQ((std::vector<std::string>{"ReleaseStringUTFChars old", "ReleaseStringUTFChars new",
                                        "ReleaseByteArrayElements 01", "ReleaseByteArrayElements 02",
                                        "ReleaseStringUTFChars alias", "ReleaseStringUTFChars pin"}),
              jnidouble::releases);
}

}  // namespace
