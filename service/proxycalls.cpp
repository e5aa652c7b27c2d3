// The seven Java-backed exports: each attaches its thread, builds a fresh SendServiceProxy,
// calls one method and converts the result, releasing every reference on every path.
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "codepage.h"
#include "files.h"
#include "tavo2.h"
#include "tavo2_exports.h"

namespace {

const char kProxyClassName[] = "tavo/client/SendServiceProxy";
const char kSendSignature[] =
    "(Ljava/lang/String;Ljava/lang/String;Ljava/lang/String;)Ltavo/client/ITavoClientResponse;";

// The references one export holds while it runs.
struct ProxyCall {
    JNIEnv* env = nullptr;
    jclass proxyClass = nullptr;
    jobject proxy = nullptr;
    jmethodID method = nullptr;
};

bool initProxyCall(ProxyCall& call, const char* methodName, const char* signature) {
    return initSendServiceProxy(call.env, methodName, signature, &call.proxyClass, &call.proxy, &call.method) == 1;
}

void deleteLocalRef(JNIEnv* env, jobject reference) {
    if (env != nullptr && reference != nullptr) env->DeleteLocalRef(reference);
}

// The exit of every export: the call's result reference, then proxy object and class.
void endProxyCall(ProxyCall& call, jobject result) {
    deleteLocalRef(call.env, result);
    releaseAndDetach(call.env, call.proxy, call.proxyClass);
}

// Logs and clears a pending Java exception; true when there was one.
bool clearException(JNIEnv* env, int level, const char* format, ...) LOG_PRINTF_FORMAT(3, 4);

bool clearException(JNIEnv* env, int level, const char* format, ...) {
    if (!env->ExceptionCheck()) return false;
    va_list args;
    va_start(args, format);
    writeLogWithV(tavo2LogSettings, level, format, args);
    va_end(args);
    env->ExceptionClear();
    return true;
}

const char* printable(const char* text) { return text != nullptr ? text : "(null)"; }

// The code point a 3-byte modified UTF-8 sequence at bytes writes when it is a surrogate
// (ED A0..BF xx), 0 otherwise.
unsigned long surrogateAt(const unsigned char* bytes) {
    if (bytes[0] != 0xED || (bytes[1] & 0xE0) != 0xA0 || (bytes[2] & 0xC0) != 0x80) return 0;
    return 0xD000 | ((bytes[1] & 0x3FUL) << 6) | (bytes[2] & 0x3FUL);
}

// The JVM's modified UTF-8 made standard, as the XML it carries declares and every host reads:
// a surrogate pair (two 3-byte forms) becomes the character's four bytes, a lone surrogate
// U+FFFD; everything else keeps its bytes. Never longer than what it was given.
size_t standardUtf8(const unsigned char* modified, size_t length, unsigned char* out) {
    size_t written = 0;
    for (size_t at = 0; at < length;) {
        unsigned long high = length - at >= 3 ? surrogateAt(modified + at) : 0;
        if (high == 0) {
            out[written++] = modified[at++];
            continue;
        }
        unsigned long low = length - at >= 6 ? surrogateAt(modified + at + 3) : 0;
        if (high <= 0xDBFF && low >= 0xDC00) {
            unsigned long code = 0x10000 + ((high - 0xD800) << 10) + (low - 0xDC00);
            out[written++] = static_cast<unsigned char>(0xF0 | (code >> 18));
            out[written++] = static_cast<unsigned char>(0x80 | ((code >> 12) & 0x3F));
            out[written++] = static_cast<unsigned char>(0x80 | ((code >> 6) & 0x3F));
            out[written++] = static_cast<unsigned char>(0x80 | (code & 0x3F));
            at += 6;
        } else {
            for (unsigned char replacement : {0xEF, 0xBF, 0xBD}) out[written++] = replacement;
            at += 3;
        }
    }
    return written;
}

// A zero-filled block of 4 x L + 4 bytes holding the text as standard UTF-8, L being the Java
// string's length in UTF-16 units; null when the block cannot be had.
char* copyUtfChars(JNIEnv* env, jstring text, const char* utf) {
    unsigned long long units = static_cast<unsigned long long>(env->GetStringLength(text));
    unsigned long long size = 4 * units + 4;
    if (size > static_cast<unsigned long long>(SIZE_MAX)) return nullptr;
    char* block = static_cast<char*>(std::calloc(static_cast<size_t>(size), 1));
    if (block == nullptr) return nullptr;
    size_t length = std::strlen(utf);
    if (length > size - 1) length = static_cast<size_t>(size - 1);
    standardUtf8(reinterpret_cast<const unsigned char*>(utf), length, reinterpret_cast<unsigned char*>(block));
    return block;
}

// The Java string of a native argument: modified UTF-8 taken as it is when it is well formed,
// otherwise (and always for messaggio) converted from the system code page through UTF-16.
jstring newJavaString(JNIEnv* env, const char* text, bool asModifiedUtf8) {
    if (asModifiedUtf8 && isModifiedUtf8(text)) return env->NewStringUTF(text);
    std::u16string units;
    if (!platform::systemCodePageToUtf16(text, std::strlen(text), units) || units.size() > 0x7FFFFFFF) return nullptr;
    return env->NewString(reinterpret_cast<const jchar*>(units.data()), static_cast<jsize>(units.size()));
}

// "SERVIZIO=..\nMITTENTE=..\nMESSAGGIO=.." in a block of exactly its length plus one.
char* echoReply(const char* servizio, const char* mittente, const char* messaggio) {
    std::string reply = std::string("SERVIZIO=") + servizio + "\nMITTENTE=" + mittente + "\nMESSAGGIO=" + messaggio;
    char* block = static_cast<char*>(std::malloc(reply.size() + 1));
    if (block == nullptr) return nullptr;
    std::memcpy(block, reply.c_str(), reply.size() + 1);
    std::FILE* output = platform::standardStream(platform::StandardStream::Output);
    std::fprintf(output, "%s\n", block);
    std::fflush(output);
    return block;
}

// The part of a send call that runs once the proxy and its method are at hand.
char* callSendMethod(ProxyCall& call, int* statusOk, int* errorNumber, const char* servizio, const char* mittente,
                     const char* messaggio, const char* name, jobject& response, jclass& responseClass, jstring& xml) {
    JNIEnv* env = call.env;
    writeLog(LOG_DEBUG, "before %s\n", name);
    // One at a time: after a failed one the JVM's error is pending and nothing more is asked.
    jstring javaMessaggio = newJavaString(env, messaggio, false);
    jstring javaMittente = javaMessaggio != nullptr ? newJavaString(env, mittente, true) : nullptr;
    jstring javaServizio = javaMittente != nullptr ? newJavaString(env, servizio, true) : nullptr;
    if (javaMessaggio == nullptr || javaMittente == nullptr || javaServizio == nullptr) {
        env->ExceptionClear();
        writeLog(LOG_ERROR, "%s: conversione dei parametri fallita\n", name);
        deleteLocalRef(env, javaMessaggio);
        deleteLocalRef(env, javaMittente);
        deleteLocalRef(env, javaServizio);
        return nullptr;
    }
    response = env->CallObjectMethod(call.proxy, call.method, javaServizio, javaMittente, javaMessaggio);
    deleteLocalRef(env, javaMessaggio);
    deleteLocalRef(env, javaMittente);
    deleteLocalRef(env, javaServizio);
    writeLog(LOG_DEBUG, "after %s\n", name);

    const bool haveStatus = statusOk != nullptr;
    if (clearException(env, LOG_ERROR, "Exception durante l'esecuzione del metodo %s\n", name)) {
        if (haveStatus) *statusOk = 0;
        return nullptr;
    }
    // A null response has no class to ask; it is a failed call, not something to dereference.
    if (response == nullptr) {
        writeLog(LOG_ERROR, "%s: la risposta e' null\n", name);
        if (haveStatus) *statusOk = 0;
        return nullptr;
    }
    responseClass = env->GetObjectClass(response);
    if (clearException(env, LOG_ERROR, "Exception nel tentativo di ottenere hl7class\n")) {
        if (haveStatus) *statusOk = 0;
        return nullptr;
    }
    jmethodID isStatusOk = env->GetMethodID(responseClass, "isStatusOk", "()Z");
    jboolean ok = isStatusOk != nullptr ? env->CallBooleanMethod(response, isStatusOk) : JNI_FALSE;
    if (clearException(env, LOG_ERROR, "Metodo isStatusOk non trovato\n") || isStatusOk == nullptr) {
        if (haveStatus) *statusOk = 0;
        return nullptr;
    }
    if (haveStatus) *statusOk = ok ? -1 : 0;

    jmethodID getErrorNumber = env->GetMethodID(responseClass, "getErrorNumber", "()I");
    jint number = getErrorNumber != nullptr ? env->CallIntMethod(response, getErrorNumber) : 0;
    if (clearException(env, LOG_ERROR, "Metodo getErrorNumber non trovato\n") || getErrorNumber == nullptr)
        return nullptr;
    if (errorNumber != nullptr) *errorNumber = number;

    jmethodID getXMLMessage = env->GetMethodID(responseClass, "getXMLMessage", "()Ljava/lang/String;");
    if (clearException(env, LOG_ERROR, "Metodo getXMLMessage non trovato\n") || getXMLMessage == nullptr)
        return nullptr;
    writeLog(LOG_DEBUG, "before getXMLMessage\n");
    xml = static_cast<jstring>(env->CallObjectMethod(response, getXMLMessage));
    writeLog(LOG_DEBUG, "after getXMLMessage\n");
    if (clearException(env, LOG_ERROR, "Exception lanciata dal metodo getXMLMessage\n")) return nullptr;
    if (xml == nullptr) {
        writeLog(LOG_ERROR, "getXMLMessage: resultXML e' null \n");
        return nullptr;
    }
    const char* utf = env->GetStringUTFChars(xml, nullptr);
    if (utf == nullptr) {
        env->ExceptionClear();
        writeLog(LOG_ERROR, "GetStringUTFChars ha restituito null\n");
        return nullptr;
    }
    char* result = copyUtfChars(env, xml, utf);
    env->ReleaseStringUTFChars(xml, utf);
    if (result == nullptr)
        writeLog(LOG_ERROR, "nativeresult==NULL: memoria insufficiente\n");
    else
        writeLog(LOG_DEBUG, "nativeresult!=NULL\n");
    return result;
}

// checkTransport and getVersionePorta: a string method, its exception message and exit.
char* callStringMethod(const char* name, const char* nullMessage, const char* exitMessage) {
    writeLog(LOG_DEBUG, "%s.I\n", name);
    ProxyCall call;
    call.env = getEnv();
    char* result = nullptr;
    jstring text = nullptr;
    if (initProxyCall(call, name, "()Ljava/lang/String;")) {
        text = static_cast<jstring>(call.env->CallObjectMethod(call.proxy, call.method));
        if (clearException(call.env, LOG_ERROR, "%s: exception durante l'esecuzione\n", name)) {
            text = nullptr;
        } else if (text == nullptr) {
            if (nullMessage != nullptr) writeLog(LOG_ERROR, "%s", nullMessage);
        } else if ((result = javaStringToNative(call.env, text)) == nullptr) {
            writeLog(LOG_ERROR, "%s: conversione della stringa fallita\n", name);
        }
    }
    endProxyCall(call, text);
    writeLog(LOG_DEBUG, "%s", exitMessage);
    return result;
}

}  // namespace

bool isModifiedUtf8(const char* text) {
    const auto* bytes = reinterpret_cast<const unsigned char*>(text);
    while (*bytes != 0) {
        unsigned char lead = *bytes;
        int continuation;
        if (lead < 0x80) {
            continuation = 0;
        } else if ((lead & 0xE0) == 0xC0) {
            continuation = 1;
        } else if ((lead & 0xF0) == 0xE0) {
            continuation = 2;
        } else {
            return false;
        }
        for (int k = 1; k <= continuation; ++k)
            if ((bytes[k] & 0xC0) != 0x80) return false;
        bytes += continuation + 1;
    }
    return true;
}

int initSendServiceProxy(JNIEnv* env, const char* methodName, const char* signature, jclass* proxyClass, jobject* proxy,
                         jmethodID* method) {
    *proxyClass = nullptr;
    *proxy = nullptr;
    *method = nullptr;
    if (env == nullptr) {
        writeLog(LOG_ERROR, "initSendServiceProxy: env=NULL !\n");
        return 0;
    }
    *proxyClass = env->FindClass(kProxyClassName);
    if (*proxyClass == nullptr) {
        env->ExceptionClear();
        writeLog(LOG_ERROR, "initSendServiceProxy: impossibile trovare la classe SendService\n");
        return 0;
    }
    jmethodID constructor = env->GetMethodID(*proxyClass, "<init>", "()V");
    if (constructor == nullptr) {
        env->ExceptionClear();  // the JVM's NoSuchMethodError
        writeLog(LOG_ERROR, "initSendServiceProxy: costruttore di SendServiceProxy non trovato\n");
        return 0;
    }
    *proxy = env->NewObject(*proxyClass, constructor);
    if (env->ExceptionCheck() || *proxy == nullptr) {
        env->ExceptionClear();
        writeLog(LOG_ERROR, "initSendServiceProxy: errore durante la creazione di SendServiceProxy\n");
        return 0;
    }
    *method = env->GetMethodID(*proxyClass, methodName, signature);
    if (env->ExceptionCheck() || *method == nullptr) {
        writeLog(LOG_ERROR, "Metodo %s non trovato\n", methodName);
        env->ExceptionClear();
        return 0;
    }
    return 1;
}

char* javaStringToNative(JNIEnv* env, jstring text) {
    if (env == nullptr || text == nullptr) return nullptr;
    const char* utf = env->GetStringUTFChars(text, nullptr);
    if (utf == nullptr) {
        env->ExceptionClear();
        return nullptr;
    }
    char* result = copyUtfChars(env, text, utf);
    env->ReleaseStringUTFChars(text, utf);
    return result;
}

char* sendMessageCommon(int* statusOk, int* errorNumber, const char* servizio, const char* mittente,
                        const char* messaggio, const char* name) {
    writeLog(LOG_DEBUG, "%s.I servizio='%s', mittente='%s'\n", name, printable(servizio), printable(mittente));
    ProxyCall call;
    jobject response = nullptr;
    jclass responseClass = nullptr;
    jstring xml = nullptr;
    char* result = nullptr;
    if (servizio == nullptr || mittente == nullptr || messaggio == nullptr) {
        writeLog(LOG_ERROR, "%s: servizio, mittente e messaggio non possono essere NULL\n", name);
    } else if (std::strcmp(servizio, "DLLECHO") == 0) {
        result = echoReply(servizio, mittente, messaggio);
    } else {
        call.env = getEnv();
        if (initProxyCall(call, name, kSendSignature))
            result = callSendMethod(call, statusOk, errorNumber, servizio, mittente, messaggio, name, response,
                                    responseClass, xml);
    }
    deleteLocalRef(call.env, xml);
    deleteLocalRef(call.env, response);
    deleteLocalRef(call.env, responseClass);
    releaseAndDetach(call.env, call.proxy, call.proxyClass);
    writeLog(LOG_DEBUG, "%s.U servizio='%s', mittente='%s'\n", name, printable(servizio), printable(mittente));
    return result;
}

extern "C" {

int TAVO2_CALL startTavo() {
    writeLog(LOG_DEBUG, "startTavo.I\n");
    if (jvm == nullptr) loadJVM();
    ProxyCall call;
    call.env = getEnv();
    int result = 0;
    if (initProxyCall(call, "startTavo", "()Z")) {
        writeLog(LOG_DEBUG, "Invoco startTavo\n");
        jboolean started = call.env->CallBooleanMethod(call.proxy, call.method);
        if (!clearException(call.env, LOG_ERROR, "startTavo: errore\n")) {
            writeLog(LOG_DEBUG, "startTavo: OK\n");
            result = started ? 1 : 0;
        }
    }
    endProxyCall(call, nullptr);
    writeLog(LOG_DEBUG, "startTavo.U\n");
    return result;
}

void TAVO2_CALL stopTavo() {
    writeLog(LOG_DEBUG, "stopTavo.I\n");
    ProxyCall call;
    call.env = getEnv();
    if (initProxyCall(call, "stopTavo", "()V")) {
        call.env->CallVoidMethod(call.proxy, call.method);
        clearException(call.env, 0, "stopTavo: exception durante l'esecuzione\n");
    }
    endProxyCall(call, nullptr);
    writeLog(LOG_DEBUG, "stopTavo.U\n");
}

char* TAVO2_CALL checkTransport() { return callStringMethod("checkTransport", nullptr, "checkTransport.U\n"); }

char* TAVO2_CALL getVersionePorta() {
    return callStringMethod("getVersionePorta", "getVersionePorta: NULL\n", "getVersionePorta.U");
}

int TAVO2_CALL getRideConfig() {
    writeLog(LOG_DEBUG, "getRideConfig.I\n");
    ProxyCall call;
    call.env = getEnv();
    writeLog(LOG_DEBUG, "getRideConfig,  initSendServiceProxy....\n");
    int result = 0;
    if (initProxyCall(call, "getRideConfig", "()I")) {
        writeLog(LOG_DEBUG, "getRideConfig,  CallIntMethod..\n");
        jint value = call.env->CallIntMethod(call.proxy, call.method);
        if (!clearException(call.env, LOG_DEBUG, "getRideConfig, ExceptionOccurred!\n")) result = value;
    }
    writeLog(LOG_DEBUG, "getRideConfig, finally\n");
    endProxyCall(call, nullptr);
    writeLog(LOG_DEBUG, "getRideConfig.U\n");
    return result;
}

char* TAVO2_CALL sendMessageS(int* statusOk, int* errorNumber, const char* servizio, const char* mittente,
                              const char* messaggio) {
    return sendMessageCommon(statusOk, errorNumber, servizio, mittente, messaggio, "sendMessageS");
}

char* TAVO2_CALL sendMessageA(int* statusOk, int* errorNumber, const char* servizio, const char* mittente,
                              const char* messaggio) {
    return sendMessageCommon(statusOk, errorNumber, servizio, mittente, messaggio, "sendMessageA");
}

}  // extern "C"
