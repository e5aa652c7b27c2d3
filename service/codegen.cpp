// getCodiceTAVO: company code, six random and seven time symbols in base 34 (no I, no O).
#include <cinttypes>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "clock.h"
#include "mutex.h"
#include "tavo2.h"
#include "tavo2_exports.h"

namespace {

const char kAlphabet[] = "0123456789ABCDEFGHJKLMNPQRSTUVWXYZ";
constexpr int64_t kBase = 34;
// Accepted draws have exactly six symbols, the first a letter: 10 x 34^5 .. 34^6 - 1.
constexpr uint32_t kLowestDraw = 454354240u;
constexpr uint32_t kHighestDraw = 1544804415u;
// 100-ns units between 1601-01-01 and 1970-01-01.
constexpr int64_t kUnixEpochFileTime = 116444736000000000LL;
constexpr int kCodeLength = 16;

platform::MutexHandle generatorMutex = nullptr;
Mt19937 generator;
// Set up once per process, whether or not the mutex could be created: a reseed would repeat
// the sequence already handed out.
bool generatorReady = false;

uint32_t nextAcceptedDraw() {
    platform::waitMutex(generatorMutex);
    uint32_t draw;
    do {
        draw = mtNext(generator);
    } while (draw < kLowestDraw || draw > kHighestDraw);
    platform::releaseMutex(generatorMutex);
    return draw;
}

// Writes exactly width symbols ending at lastPosition. Values outside the field (clocks before
// 1974 or after 2136) keep their lowest symbols instead of running past the field.
void writeBase34(char* code, int lastPosition, int width, int64_t value) {
    int64_t modulus = 1;
    for (int k = 0; k < width; ++k) modulus *= kBase;
    value %= modulus;
    if (value < 0) value += modulus;
    for (int k = 0; k < width; ++k) {
        code[lastPosition - k] = kAlphabet[value % kBase];
        value /= kBase;
    }
}

}  // namespace

void mtSeed(Mt19937& mt, uint32_t seed) {
    mt.state[0] = seed;
    for (uint32_t i = 1; i < 624; ++i) mt.state[i] = 1812433253u * (mt.state[i - 1] ^ (mt.state[i - 1] >> 30)) + i;
    mt.index = 0;
}

uint32_t mtNext(Mt19937& mt) {
    if (mt.index == 0) {
        for (int i = 0; i < 624; ++i) {
            uint32_t y = (mt.state[i] & 0x80000000u) | (mt.state[(i + 1) % 624] & 0x7fffffffu);
            mt.state[i] = mt.state[(i + 397) % 624] ^ (y >> 1) ^ ((y & 1u) != 0 ? 0x9908b0dfu : 0u);
        }
    }
    uint32_t y = mt.state[mt.index];
    mt.index = (mt.index + 1) % 624;
    y ^= y >> 11;
    y ^= (y << 7) & 0x9d2c5680u;
    y ^= (y << 15) & 0xefc60000u;
    y ^= y >> 18;
    return y;
}

void initCodeGenerator() {
    if (generatorReady) return;
    generatorReady = true;
    writeLog(LOG_DEBUG, "CreateMutex, init..\n");
    generatorMutex = platform::createMutex();
    if (generatorMutex == nullptr) writeLog(LOG_ERROR, "CreateMutex fallita: il generatore lavora senza mutex\n");
    mtSeed(generator, static_cast<uint32_t>(std::time(nullptr)));
}

void seedCodeGenerator(uint32_t seed) {
    platform::waitMutex(generatorMutex);
    mtSeed(generator, seed);
    platform::releaseMutex(generatorMutex);
}

char* makeCodiceTAVO(const char* codiceAzienda, int64_t fileTime) {
    int64_t tenths = (fileTime - kUnixEpochFileTime) / 1000000;
    if (codiceAzienda == nullptr) {
        writeLog(LOG_DEBUG, "getCodiceTAVO: codiceAzienda nullo\n");
        return nullptr;
    }
    size_t length = std::strlen(codiceAzienda);
    if (length != 3) {
        writeLog(LOG_DEBUG, "getCodiceTAVO: codiceAzienda lungo %d caratteri invece di 3 :'%s'\n",
                 length > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<int>(length), codiceAzienda);
        return nullptr;
    }
    char* code = static_cast<char*>(std::malloc(kCodeLength + 1));
    if (code == nullptr) {
        writeLog(LOG_ERROR, "getCodiceTAVO: memoria insufficiente\n");
        return nullptr;
    }
    std::memcpy(code, codiceAzienda, 3);
    std::memset(code + 3, 0, kCodeLength + 1 - 3);
    writeBase34(code, 8, 6, nextAcceptedDraw());
    writeBase34(code, 15, 7, tenths);
    writeLog(LOG_DEBUG, "getCodiceTAVO('%s')='%s'. Now:%" PRId64 "\n", codiceAzienda, code, tenths);
    return code;
}

extern "C" char* TAVO2_CALL getCodiceTAVO(const char* codiceAzienda) {
    return makeCodiceTAVO(codiceAzienda, platform::utcFileTimeNow());
}
