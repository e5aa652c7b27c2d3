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

// One UTF-16 unit sequence's character as standard UTF-8 at out; the bytes written. A pair of
// surrogates is one character of four bytes; a lone surrogate, which UTF-8 cannot hold,
// becomes U+FFFD.
size_t putUtf8(const jchar* units, size_t count, size_t* used, unsigned char* out) {
    unsigned long code = units[0];
    *used = 1;
    if (code >= 0xD800 && code <= 0xDBFF && count > 1 && units[1] >= 0xDC00 && units[1] <= 0xDFFF) {
        code = 0x10000 + ((code - 0xD800) << 10) + (units[1] - 0xDC00);
        *used = 2;
    } else if (code >= 0xD800 && code <= 0xDFFF) {
        code = 0xFFFD;
    }
    if (code < 0x80) {
        out[0] = static_cast<unsigned char>(code);
        return 1;
    }
    if (code < 0x800) {
        out[0] = static_cast<unsigned char>(0xC0 | (code >> 6));
        out[1] = static_cast<unsigned char>(0x80 | (code & 0x3F));
        return 2;
    }
    if (code < 0x10000) {
        out[0] = static_cast<unsigned char>(0xE0 | (code >> 12));
        out[1] = static_cast<unsigned char>(0x80 | ((code >> 6) & 0x3F));
        out[2] = static_cast<unsigned char>(0x80 | (code & 0x3F));
        return 3;
    }
    out[0] = static_cast<unsigned char>(0xF0 | (code >> 18));
    out[1] = static_cast<unsigned char>(0x80 | ((code >> 12) & 0x3F));
    out[2] = static_cast<unsigned char>(0x80 | ((code >> 6) & 0x3F));
    out[3] = static_cast<unsigned char>(0x80 | (code & 0x3F));
    return 4;
}

// The Java string as standard UTF-8, what the XML it carries declares and every host reads, in a
// zero-filled block of 4 x L + 4 bytes, L being its length in UTF-16 units (no unit takes more
// than three bytes, a pair four); null when the block or the characters cannot be had.
char* copyAsUtf8(JNIEnv* env, jstring text) {
    unsigned long long count = static_cast<unsigned long long>(env->GetStringLength(text));
    unsigned long long size = 4 * count + 4;
    if (size > static_cast<unsigned long long>(SIZE_MAX)) return nullptr;
    char* block = static_cast<char*>(std::calloc(static_cast<size_t>(size), 1));
    if (block == nullptr) return nullptr;
    const jchar* units = env->GetStringChars(text, nullptr);
    if (units == nullptr) {
        env->ExceptionClear();
        std::free(block);
        return nullptr;
    }
    auto* out = reinterpret_cast<unsigned char*>(block);
    for (size_t at = 0, used = 0; at < count; at += used) out += putUtf8(units + at, count - at, &used, out);
    env->ReleaseStringChars(text, units);
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
    char* result = copyAsUtf8(env, xml);
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
    return copyAsUtf8(env, text);
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
