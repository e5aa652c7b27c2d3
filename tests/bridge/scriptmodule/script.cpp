#include "script.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>

#include "key_values.h"

namespace script {

static std::map<std::string, std::string> load() { return readKeyValues(std::getenv("P11SCRIPT_FILE")); }

std::string text(const char* key, const char* fallback) {
    std::map<std::string, std::string> values = load();
    auto found = values.find(key);
    return found != values.end() ? found->second : std::string(fallback);
}

bool has(const char* key) {
    std::map<std::string, std::string> values = load();
    return values.find(key) != values.end();
}

CK_ULONG number(const char* key, CK_ULONG fallback) {
    if (!has(key)) return fallback;
    return static_cast<CK_ULONG>(std::strtoull(text(key).c_str(), nullptr, 0));
}

// The fault planned through failCall: the nth counted call from then on gives its code.
static CK_ULONG faultCountdown = 0;
static CK_RV faultResult = CKR_OK;

void failCall(CK_ULONG nth, CK_RV rv) {
    faultCountdown = nth;
    faultResult = rv;
}

bool faultPending() { return faultCountdown > 0; }

CK_RV result(const char* function) {
    if (faultCountdown > 0 && --faultCountdown == 0) return faultResult;
    std::string key = std::string("rv.") + function;
    return number(key.c_str(), CKR_OK);
}

void record(const char* format, ...) {
    const char* path = std::getenv("P11SCRIPT_RECORD");
    if (path == nullptr) return;
    FILE* file = std::fopen(path, "ab");
    if (file == nullptr) return;
    va_list args;
    va_start(args, format);
    std::vfprintf(file, format, args);
    va_end(args);
    std::fputc('\n', file);
    std::fclose(file);
}

std::string hex(const void* bytes, CK_ULONG length) {
    if (bytes == nullptr) return "null";
    static const char digits[] = "0123456789abcdef";
    std::string out;
    const unsigned char* p = static_cast<const unsigned char*>(bytes);
    for (CK_ULONG i = 0; i < length; i++) {
        out += digits[p[i] >> 4];
        out += digits[p[i] & 15];
    }
    return out;
}

void pad(CK_UTF8CHAR* field, size_t width, const std::string& value) {
    std::memset(field, ' ', width);
    std::memcpy(field, value.data(), value.size() < width ? value.size() : width);
}

CK_VERSION version(const char* key, const char* fallback) {
    std::string value = text(key, fallback);
    CK_VERSION v;
    char* end = nullptr;
    v.major = static_cast<CK_BYTE>(std::strtoul(value.c_str(), &end, 10));
    v.minor = static_cast<CK_BYTE>(*end == '.' ? std::strtoul(end + 1, nullptr, 10) : 0);
    return v;
}

}  // namespace script
