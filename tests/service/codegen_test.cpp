// The code generator: MT19937 against the standard library, the worked example, the code's
// alphabet and layout, refusals, and concurrent draws.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <pthread.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "tavo2.h"
#include "tavo2_exports.h"
#include "test_support.h"

namespace {

constexpr int64_t kUnixEpochFileTime = 116444736000000000LL;
// 2023-11-14 22:13:20.123 UTC.
constexpr int64_t kExampleClock = kUnixEpochFileTime + 1700000000LL * 10000000 + 1230000;
const std::string kAlphabet = "0123456789ABCDEFGHJKLMNPQRSTUVWXYZ";

std::string takeCode(char* code) {
    std::string text = code != nullptr ? code : "<null>";
    std::free(code);
    return text;
}

int64_t decodeBase34(const std::string& symbols) {
    int64_t value = 0;
    for (char symbol : symbols) value = value * 34 + static_cast<int64_t>(kAlphabet.find(symbol));
    return value;
}

// The first accepted draws of the reference generator with the given seed.
std::vector<int64_t> acceptedDraws(uint32_t seed, size_t count) {
    std::mt19937 reference(seed);
    std::vector<int64_t> accepted;
    while (accepted.size() < count) {
        uint32_t draw = reference();
        if (draw >= 454354240u && draw <= 1544804415u) accepted.push_back(draw);
    }
    return accepted;
}

}  // namespace

// While set, creating a mutex fails the way an exhausted system makes it fail. (ThreadSanitizer
// keeps its own pthread_mutex_init, which must not be replaced.)
#if !defined(__SANITIZE_THREAD__)
static bool failMutexCreation = false;

extern "C" int pthread_mutex_init(pthread_mutex_t* mutex, const pthread_mutexattr_t* attributes) {
    using InitFn = int (*)(pthread_mutex_t*, const pthread_mutexattr_t*);
    static InitFn real = reinterpret_cast<InitFn>(dlsym(RTLD_NEXT, "pthread_mutex_init"));
    return failMutexCreation ? EAGAIN : real(mutex, attributes);
}
#endif

namespace {

class CodegenTest : public ::testing::Test {
protected:
    void SetUp() override {
        initCodeGenerator();
        seedCodeGenerator(1700000000u);
    }
    ScratchDirectory dir;  // the codes' log lands here
};

TEST(Mt19937Test, MatchesTheStandardGeneratorAcrossSeedsAndRegenerations) {
    const uint32_t seeds[] = {0u, 1u, 5489u, 1700000000u, 0x7FFFFFFFu, 0x80000000u, 0xFFFFFFFFu, 0xDEADBEEFu};
    for (uint32_t seed : seeds) {
        Mt19937 ours;
        mtSeed(ours, seed);
        std::mt19937 reference(seed);
        for (int i = 0; i < 3000; ++i) ASSERT_EQ(mtNext(ours), reference()) << "seed " << seed << " draw " << i;
    }
    std::mt19937 seedSource(42);
    for (int n = 0; n < 500; ++n) {
        uint32_t seed = seedSource();
        Mt19937 ours;
        mtSeed(ours, seed);
        std::mt19937 reference(seed);
        for (int i = 0; i < 700; ++i) ASSERT_EQ(mtNext(ours), reference()) << "seed " << seed << " draw " << i;
    }
}

TEST_F(CodegenTest, ReproducesTheWorkedExample) {
    EXPECT_EQ(takeCode(makeCodiceTAVO("999", kExampleClock)), "999N138VLB05BYC1");
    EXPECT_NE(readFile(todaysLogName()).find("DEBUG - getCodiceTAVO('999')='999N138VLB05BYC1'. Now:17000000001\n"),
              std::string::npos);
}

TEST_F(CodegenTest, RefusesMissingOrWrongLengthCompanyCodesWithoutDrawing) {
    EXPECT_EQ(makeCodiceTAVO(nullptr, kExampleClock), nullptr);
    EXPECT_EQ(makeCodiceTAVO("99", kExampleClock), nullptr);
    EXPECT_EQ(makeCodiceTAVO("9999", kExampleClock), nullptr);
    EXPECT_EQ(makeCodiceTAVO("", kExampleClock), nullptr);
    std::string log = readFile(todaysLogName());
    EXPECT_NE(log.find("DEBUG - getCodiceTAVO: codiceAzienda nullo\n"), std::string::npos);
    EXPECT_NE(log.find("DEBUG - getCodiceTAVO: codiceAzienda lungo 2 caratteri invece di 3 :'99'\n"),
              std::string::npos);
    EXPECT_NE(log.find("DEBUG - getCodiceTAVO: codiceAzienda lungo 4 caratteri invece di 3 :'9999'\n"),
              std::string::npos);
    // The refusals drew nothing: the first accepted draw is still the example's.
    EXPECT_EQ(takeCode(makeCodiceTAVO("999", kExampleClock)).substr(3, 6), "N138VL");
}

TEST_F(CodegenTest, CodesUseTheAlphabetAndPositionRules) {
    EXPECT_EQ(takeCode(makeCodiceTAVO("a-b", kExampleClock)).substr(0, 3), "a-b");
    for (int i = 0; i < 2000; ++i) {
        std::string code = takeCode(makeCodiceTAVO("XYZ", kExampleClock + i * 1000000LL));
        ASSERT_EQ(code.size(), 16u);
        ASSERT_TRUE(code[3] >= 'A' && code[3] <= 'Z' && code[3] != 'I' && code[3] != 'O') << code;
        for (size_t k = 3; k < 16; ++k) ASSERT_NE(kAlphabet.find(code[k]), std::string::npos) << code;
        int64_t draw = decodeBase34(code.substr(3, 6));
        ASSERT_GE(draw, 454354240);
        ASSERT_LE(draw, 1544804415);
        ASSERT_EQ(decodeBase34(code.substr(9, 7)), 17000000001LL + i) << code;
    }
}

TEST_F(CodegenTest, TwoCodesInOneTenthShareTimeAndTakeSuccessiveDraws) {
    std::string first = takeCode(makeCodiceTAVO("999", kExampleClock));
    std::string second = takeCode(makeCodiceTAVO("999", kExampleClock + 769999));
    EXPECT_EQ(first.substr(9), second.substr(9));
    std::vector<int64_t> accepted = acceptedDraws(1700000000u, 2);
    EXPECT_EQ(decodeBase34(first.substr(3, 6)), accepted[0]);
    EXPECT_EQ(decodeBase34(second.substr(3, 6)), accepted[1]);
}

TEST_F(CodegenTest, ClocksOutsideTheSevenSymbolRangeStayInsideTheCode) {
    // 1970-01-01 00:00:00.5 and one tenth before the epoch: padded and wrapped, never longer.
    std::string early = takeCode(makeCodiceTAVO("999", kUnixEpochFileTime + 5000000));
    EXPECT_EQ(early.substr(9), "0000005");
    std::string beforeEpoch = takeCode(makeCodiceTAVO("999", kUnixEpochFileTime - 1000000));
    EXPECT_EQ(beforeEpoch.size(), 16u);
    EXPECT_EQ(beforeEpoch.substr(9), "ZZZZZZZ");
    // 34^7 tenths after the epoch (mid 2136) wraps to zero.
    std::string late = takeCode(makeCodiceTAVO("999", kUnixEpochFileTime + 52523350144LL * 1000000));
    EXPECT_EQ(late.size(), 16u);
    EXPECT_EQ(late.substr(9), "0000000");
}

TEST_F(CodegenTest, ExportReadsTheLiveClock) {
    std::string code = takeCode(getCodiceTAVO("ABC"));
    ASSERT_EQ(code.size(), 16u);
    int64_t tenths = decodeBase34(code.substr(9, 7));
    int64_t now = static_cast<int64_t>(std::time(nullptr)) * 10;
    EXPECT_LE(std::llabs(tenths - now), 20);
}

TEST_F(CodegenTest, ConcurrentCallersNeverShareADraw) {
    constexpr int kThreads = 8;
    constexpr int kCodesEach = 1500;
    std::vector<std::vector<int64_t>> draws(kThreads);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([t, &draws] {
            for (int i = 0; i < kCodesEach; ++i)
                draws[t].push_back(decodeBase34(takeCode(makeCodiceTAVO("MTX", kExampleClock)).substr(3, 6)));
        });
    }
    for (auto& thread : threads) thread.join();
    std::vector<int64_t> all;
    for (auto& each : draws) all.insert(all.end(), each.begin(), each.end());
    // Together the threads received exactly the first accepted draws of the sequence.
    std::vector<int64_t> expected = acceptedDraws(1700000000u, all.size());
    std::sort(all.begin(), all.end());
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(all, expected);
}

#if !defined(__SANITIZE_THREAD__)
// The first entry-point call of a process whose mutex cannot be created, then a second one (a
// thread attach): the generator is seeded once, so the second draw continues the sequence.
bool secondAttachKeepsTheSequence() {
    failMutexCreation = true;
    initCodeGenerator();
    failMutexCreation = false;
    seedCodeGenerator(1700000000u);
    std::string first = takeCode(makeCodiceTAVO("999", kExampleClock));
    initCodeGenerator();
    std::string second = takeCode(makeCodiceTAVO("999", kExampleClock));
    std::vector<int64_t> accepted = acceptedDraws(1700000000u, 2);
    bool reported = readFile(todaysLogName()).find("ERROR - CreateMutex fallita: il generatore lavora senza mutex\n") !=
                    std::string::npos;
    return reported && decodeBase34(first.substr(3, 6)) == accepted[0] &&
           decodeBase34(second.substr(3, 6)) == accepted[1];
}

// Runs in a process of its own: the generator's first set-up happens once per process.
TEST(CodegenSeedingDeathTest, FailedMutexCreationNeverReseeds) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            bool kept;
            {
                ScratchDirectory dir;
                kept = secondAttachKeepsTheSequence();
            }
            std::_Exit(kept ? 0 : 1);
        },
        testing::ExitedWithCode(0), "");
}
#endif

}  // namespace
