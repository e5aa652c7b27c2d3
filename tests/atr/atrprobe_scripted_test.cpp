// atrprobe against the scripted PC/SC layer: what the real stack cannot be made to do, and the
// exact calls and arguments.
#include "atrprobe.h"
#include "jni_double.h"
#include "scripted_pcsc.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

extern "C" jbyteArray JNICALL Java_it_vantrel_tirvex_util_ATR_getATRdll(JNIEnv*, jobject, jboolean);

namespace {

using scripted::Reader;
using scripted::Script;

const std::vector<unsigned char> atr19 = {0x3B, 0x8E, 0x80, 0x01, 0x80, 0x31, 0x80, 0x66, 0xB1, 0x84,
                                          0x0C, 0x01, 0x6E, 0x01, 0x83, 0x00, 0x90, 0x00, 0x1C};
const std::vector<unsigned char> atr4 = {0x3B, 0x02, 0x14, 0x50};
constexpr unsigned char untouched = 0xEE;
constexpr platform::PcscResult outOfMemory = 14;

struct Probe {
    int result;
    int length;
    std::vector<unsigned char> buffer;
    std::string output;
};

// getatrstr into a 64-byte buffer pre-filled with a marker, so writes past 32 bytes show.
Probe runGetatrstr(int verbose, bool withBuffer = true) {
    Probe probe{};
    probe.buffer.assign(64, untouched);
    probe.length = -7;
    testing::internal::CaptureStdout();
    probe.result = getatrstr(verbose, withBuffer ? probe.buffer.data() : nullptr, &probe.length);
    probe.output = testing::internal::GetCapturedStdout();
    return probe;
}

std::string runCsgetatr(int* result) {
    testing::internal::CaptureStdout();
    *result = csgetatr();
    return testing::internal::GetCapturedStdout();
}

std::vector<unsigned char> bytesOf(const Probe& probe) {
    return std::vector<unsigned char>(probe.buffer.begin(),
                                      probe.buffer.begin() + (probe.length > 0 ? probe.length : 0));
}

void expectNothingWrittenFrom(const Probe& probe, std::size_t from) {
    for (std::size_t i = from; i < probe.buffer.size(); ++i) ASSERT_EQ(probe.buffer[i], untouched) << "byte " << i;
}

bool contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

Reader cardReader(const std::string& name, const std::vector<unsigned char>& atr) {
    Reader reader;
    reader.name = name;
    reader.present = true;
    reader.atr = atr;
    return reader;
}

class ScriptedProbe : public testing::Test {
protected:
    Script& script = scripted::reset();
    void TearDown() override {
        EXPECT_EQ(script.liveBlocks, 0) << "list block leaked";
        EXPECT_EQ(script.contexts, 0) << "context not released";
        EXPECT_EQ(script.connections, 0) << "card left connected";
    }
};

TEST_F(ScriptedProbe, OneCardMakesTheExactCallsAndReturnsItsAtrQuietly) {
    script.readers = {cardReader("Reader A", atr19)};
    Probe probe = runGetatrstr(0);
    EXPECT_EQ(probe.result, 0);
    EXPECT_EQ(bytesOf(probe), atr19);
    expectNothingWrittenFrom(probe, atr19.size());
    EXPECT_EQ(probe.output, "\n returned atr \n");
    const std::vector<std::string> expected = {
        "SCardEstablishContext scope=0",
        "SCardListReadersA groups=null buffer=null length=0",
        "SCardListReadersA groups=null buffer=set length=10",
        "SCardListCardsA atr=null interfaces=null count=0 buffer=null length=0",
        "SCardListCardsA atr=null interfaces=null count=0 buffer=set length=1",
        "SCardListReaderGroupsA buffer=null length=0",
        "SCardListReaderGroupsA buffer=set length=22",
        "SCardListReadersA groups=null buffer=null length=0",
        "SCardListReadersA groups=null buffer=set length=10",
        "SCardGetStatusChangeA timeout=ffffffff count=1 [Reader A current=0 event=0 atr=0]",
        "SCardConnectA reader=Reader A share=2 protocols=3",
        "SCardStatusA name=200 atr=32",
        "SCardDisconnect disposition=0",
        "SCardReleaseContext context=5c",
    };
    EXPECT_EQ(script.calls, expected);
}

TEST_F(ScriptedProbe, VerboseReportShowsListingsScanAndCopy) {
    script.readers = {cardReader("Reader A", atr4)};
    script.readers.push_back(scripted::emptyReaders(1)[0]);
    script.cardTypes = {"Card X"};
    Probe probe = runGetatrstr(1);
    ASSERT_EQ(probe.result, 0);
    const std::string expected =
        "\nRegistered Reader(s)\n====================\n01: Reader A\n02: Reader 01\n"
        "\nRegistered Card(s)\n==================\n01: Card X\n"
        "\nRegistered Group(s)\n===================\n01: SCard$DefaultReaders\n"
        "\nCard in reader\n==============\n"
        "01: Reader A\n"
        "SCardStatus result:\nlResult = 0 0 \ncchReaderLen = 09 09 \nState = 06 06 \nProtocol = 02 02 \n"
        "The card has been reset and specific communication protocols have been established.\nT1 protocol.\n"
        "    ATR = 3b 02 14 50 \n"
        "    Reader = \n52 65 61 64 65 72 20 41 00 \n R  e  a  d  e  r     A  " +
        std::string(1, '\0') +
        " \n"
        "atrlen = 04 04 \n"
        "    ATR = 3b 02 14 50 \n"
        "atrlen dword is 4 \natrlen uint  is 4 \ncopyATR = 3b 02 14 50 \n returned atr \n\n"
        "02: Reader 01\n    No Smart Card found in this reader.\n";
    EXPECT_EQ(probe.output, expected);
}

TEST_F(ScriptedProbe, EmptyListingsSayNoneFound) {
    script.groups.clear();
    script.readers.clear();
    Probe quiet = runGetatrstr(1);
    EXPECT_EQ(quiet.result, 0);
    EXPECT_EQ(quiet.length, 0);
    EXPECT_TRUE(contains(quiet.output,
                         "Registered Reader(s)\n====================\n"
                         "No registered reader was found for the specified reader group(s) [(null)].\n"));
    EXPECT_TRUE(contains(quiet.output, "No registered Smart Card was found for the specified ATR [(null)].\n"));
    EXPECT_TRUE(
        contains(quiet.output, "Registered Group(s)\n===================\nNo registered reader group was found.\n"));
    EXPECT_TRUE(contains(quiet.output,
                         "Card in reader\n==============\n"
                         "No registered reader was found for the specified reader group(s) [(null)].\n"));
    EXPECT_EQ(std::count(script.calls.begin(), script.calls.end(), std::string("SCardReleaseContext context=5c")), 1);
}

TEST_F(ScriptedProbe, SecondOfTwoCardsWinsAndNoCardLeavesLengthZero) {
    script.readers = {cardReader("Reader A", atr19), cardReader("Reader B", atr4)};
    Probe two = runGetatrstr(0);
    EXPECT_EQ(two.result, 0);
    EXPECT_EQ(bytesOf(two), atr4);
    EXPECT_EQ(two.output, "\n returned atr \n\n returned atr \n");

    script.readers = scripted::emptyReaders(3);
    Probe none = runGetatrstr(0);
    EXPECT_EQ(none.result, 0);
    EXPECT_EQ(none.length, 0);
    EXPECT_EQ(none.output, "");
}

TEST_F(ScriptedProbe, OnlyTheFirstTenOfElevenReadersAreScanned) {
    script.readers = scripted::emptyReaders(11);
    script.readers[9] = cardReader("Reader 10", atr19);
    script.readers[10] = cardReader("Reader 11", atr4);
    Probe probe = runGetatrstr(1);
    EXPECT_EQ(probe.result, 0);
    EXPECT_EQ(bytesOf(probe), atr19);
    EXPECT_TRUE(contains(probe.output, "11: Reader 11\n\nRegistered Card(s)"));  // still listed
    EXPECT_TRUE(contains(probe.output, "10: Reader 10\n"));
    EXPECT_FALSE(contains(probe.output.substr(probe.output.find("Card in reader")), "11: Reader 11"));
    for (const std::string& call : script.calls) {
        if (call.rfind("SCardGetStatusChangeA", 0) == 0) {
            EXPECT_TRUE(contains(call, "count=10 "));
        }
        EXPECT_FALSE(contains(call, "SCardConnectA reader=Reader 11"));
    }
}

TEST_F(ScriptedProbe, LastCardReadersOutcomeIsTheResult) {
    script.readers = {cardReader("Reader A", atr19), cardReader("Reader B", atr4), scripted::emptyReaders(1)[0]};
    script.readers[1].connectResult = platform::pcscSharingViolation;
    Probe busyLast = runGetatrstr(1);
    EXPECT_EQ(static_cast<platform::PcscResult>(busyLast.result), platform::pcscSharingViolation);
    EXPECT_EQ(bytesOf(busyLast), atr19);  // the earlier reader's ATR stays in the buffer
    EXPECT_TRUE(contains(busyLast.output, "\nError [0x8010000b]: Program terminated abnormally.\n"));

    script.readers[0].connectResult = platform::pcscSharingViolation;
    script.readers[1].connectResult = 0;
    Probe busyFirst = runGetatrstr(0);
    EXPECT_EQ(busyFirst.result, 0);
    EXPECT_EQ(bytesOf(busyFirst), atr4);
}

TEST_F(ScriptedProbe, AtrLongerThan32BytesIsRefusedWithoutOverrun) {
    std::vector<unsigned char> atr40(40);
    for (std::size_t i = 0; i < atr40.size(); ++i) atr40[i] = static_cast<unsigned char>(0xA0 + i);
    script.readers = {cardReader("Reader A", atr40)};
    Probe probe = runGetatrstr(1);
    EXPECT_EQ(static_cast<platform::PcscResult>(probe.result), platform::pcscInsufficientBuffer);
    EXPECT_EQ(probe.length, 0);
    expectNothingWrittenFrom(probe, 0);
    EXPECT_TRUE(contains(probe.output, "lResult = -2146435064 80100008 \n"));
    EXPECT_TRUE(contains(probe.output, "atrlen = 40 28 \n"));
    // The report shows the 32 bytes of room, all zero since the service filled nothing.
    std::string zeros = "    ATR = ";
    for (int i = 0; i < 32; ++i) zeros += "00 ";
    EXPECT_TRUE(contains(probe.output, zeros + "\n    Reader"));
    EXPECT_FALSE(contains(probe.output, "returned atr"));
}

TEST_F(ScriptedProbe, ServiceClaimingMoreThanTheRoomCountsAsInsufficientBuffer) {
    script.readers = {cardReader("Reader A", atr19)};
    script.readers[0].claimLengths = true;
    script.readers[0].claimedNameLength = 9;
    script.readers[0].claimedAtrLength = 0xFFFFFFFF;
    Probe longAtr = runGetatrstr(1);
    EXPECT_EQ(static_cast<platform::PcscResult>(longAtr.result), platform::pcscInsufficientBuffer);
    EXPECT_EQ(longAtr.length, 0);
    expectNothingWrittenFrom(longAtr, 0);

    script.readers[0].claimedNameLength = 5000;
    script.readers[0].claimedAtrLength = 19;
    Probe longName = runGetatrstr(1);
    EXPECT_EQ(static_cast<platform::PcscResult>(longName.result), platform::pcscInsufficientBuffer);
    const std::string report = longName.output.substr(longName.output.find("    Reader = \n"));
    const std::string hexLine = report.substr(14, report.find('\n', 14) - 14);
    EXPECT_EQ(hexLine.size(), 200u * 3);  // the name is shown within its 200 characters
}

TEST_F(ScriptedProbe, ReaderNameBytesShowAsSignedBytes) {
    script.readers = {cardReader("L\xE9", atr4)};
    Probe probe = runGetatrstr(1);
    EXPECT_TRUE(contains(probe.output, "    Reader = \n4c ffffffe9 00 \n"));
}

struct StateCase {
    std::uint32_t state;
    std::uint32_t protocol;
    const char* text;
};

class StateTexts : public ScriptedProbe, public testing::WithParamInterface<StateCase> {};

TEST_P(StateTexts, StateAndProtocolAreReportedInWords) {
    script.readers = {cardReader("Reader A", atr4)};
    script.readers[0].state = GetParam().state;
    script.readers[0].protocol = GetParam().protocol;
    Probe probe = runGetatrstr(1);
    const std::string afterProtocol = probe.output.substr(probe.output.find("Protocol = "));
    const std::string text = afterProtocol.substr(afterProtocol.find('\n') + 1);
    EXPECT_EQ(text.substr(0, text.find("    ATR = ")), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(
    AllStates, StateTexts,
    testing::Values(
        StateCase{0, 1, "the driver is unaware of the current state of the reader.\n"},
        StateCase{1, 1, "There is no card in the reader.\n"},
        StateCase{2, 1, "There is a card in the reader, but it has not been moved into position for use.\n"},
        StateCase{3, 1, "There is a card in the readerin position for use. The card is not powered.\n"},
        StateCase{4, 1,
                  "Power is being provided to the card, but the reader driver is unaware of the mode of the card.\n"},
        StateCase{5, 2, "The card has been reset and is awaiting PTS negotiation.\n"},
        StateCase{
            6, 1,
            "The card has been reset and specific communication protocols have been established.\nT0 protocol.\n"},
        StateCase{
            6, 0x10000,
            "The card has been reset and specific communication protocols have been established.\nRAW protocol.\n"},
        StateCase{6, 8,
                  "The card has been reset and specific communication protocols have been established.\nundefined "
                  "protocol.\n"},
        StateCase{7, 1, "Unexpected card status.\n"}));

// Listing calls in order: readers, cards, groups (size, fill each), then the scan's readers.
class ListingFailure : public ScriptedProbe, public testing::WithParamInterface<int> {};

TEST_P(ListingFailure, FirstFailureIsTheResultAndEverythingIsReleased) {
    script.readers = {cardReader("Reader A", atr19)};
    script.failingListing = GetParam();
    script.listingFailure = 0x80100017;  // reader unavailable
    script.releaseResult = 0x80100003;   // must not hide the earlier failure
    Probe verbose = runGetatrstr(1);
    EXPECT_EQ(verbose.result, static_cast<int>(0x80100017));
    EXPECT_EQ(verbose.length, 0);
    EXPECT_TRUE(contains(verbose.output, "\nError [0x80100017]: Program terminated abnormally.\n"));
    EXPECT_EQ(script.calls.back(), "SCardReleaseContext context=5c");

    script.listings = 0;
    Probe quiet = runGetatrstr(0);
    EXPECT_EQ(quiet.result, static_cast<int>(0x80100017));
    EXPECT_EQ(quiet.output, "");
}

INSTANTIATE_TEST_SUITE_P(EveryListingCall, ListingFailure, testing::Range(0, 8));

TEST_F(ScriptedProbe, StatusChangeAndStatusFailuresAreResults) {
    script.readers = {cardReader("Reader A", atr19)};
    script.statusChangeResult = 0x80100006;
    EXPECT_EQ(runGetatrstr(0).result, static_cast<int>(0x80100006));

    script.statusChangeResult = 0;
    script.readers[0].statusResult = 0x80100069;  // card removed
    Probe removed = runGetatrstr(1);
    EXPECT_EQ(removed.result, static_cast<int>(0x80100069));
    EXPECT_EQ(removed.length, 0);
    EXPECT_TRUE(contains(removed.output, "SCardStatus result:\nlResult = -2146434967 80100069 \n"));
    EXPECT_EQ(std::count(script.calls.begin(), script.calls.end(), std::string("SCardDisconnect disposition=0")), 1);
}

TEST_F(ScriptedProbe, ReleaseDisconnectAndFreeFailuresReplaceOnlySuccess) {
    script.readers = {cardReader("Reader A", atr19)};
    script.releaseResult = 0x80100003;
    EXPECT_EQ(runGetatrstr(0).result, static_cast<int>(0x80100003));

    script.releaseResult = 0;
    script.readers[0].disconnectResult = 0x80100016;
    Probe disconnect = runGetatrstr(0);
    EXPECT_EQ(disconnect.result, static_cast<int>(0x80100016));
    EXPECT_EQ(bytesOf(disconnect), atr19);

    script.readers[0].disconnectResult = 0;
    for (int failingFree = 0; failingFree < 4; ++failingFree) {
        script.frees = 0;
        script.failingFree = failingFree;
        script.freeFailure = 87;
        EXPECT_EQ(runGetatrstr(0).result, 87) << "free " << failingFree;
    }
}

TEST_F(ScriptedProbe, OutOfMemoryForAnyListIs14) {
    script.readers = {cardReader("Reader A", atr19)};
    for (int failing = 0; failing < 4; ++failing) {
        script.allocations = 0;
        script.failingAllocation = failing;
        Probe probe = runGetatrstr(1);
        EXPECT_EQ(static_cast<platform::PcscResult>(probe.result), outOfMemory) << "allocation " << failing;
        EXPECT_TRUE(contains(probe.output, "\nError [0xe]: Program terminated abnormally.\n"));
    }
}

TEST_F(ScriptedProbe, AbsurdOrGrowingListSizesAreRefused) {
    script.readers = {cardReader("Reader A", atr19)};
    script.lyingListing = 0;
    script.lyingSize = 0xFFFFFFFF;
    EXPECT_EQ(static_cast<platform::PcscResult>(runGetatrstr(0).result), outOfMemory);
    EXPECT_EQ(script.allocations, 0);

    // The list grows between the size and the fill call: the service's own code comes back.
    script.listings = 0;
    script.lyingListing = 6;
    script.lyingSize = 4;
    EXPECT_EQ(static_cast<platform::PcscResult>(runGetatrstr(0).result), platform::pcscInsufficientBuffer);
}

TEST_F(ScriptedProbe, EstablishFailureSkipsEverythingElse) {
    script.establishResult = platform::pcscNoService;
    Probe quiet = runGetatrstr(0);
    EXPECT_EQ(static_cast<platform::PcscResult>(quiet.result), platform::pcscNoService);
    EXPECT_EQ(quiet.length, 0);
    EXPECT_EQ(quiet.output, "");
    EXPECT_EQ(script.calls, std::vector<std::string>{"SCardEstablishContext scope=0"});
}

TEST_F(ScriptedProbe, CsgetatrAlwaysReportsAndFollowsAQuietGetatrstr) {
    script.readers = {cardReader("Reader A", atr19)};
    ASSERT_EQ(runGetatrstr(0).output, "\n returned atr \n");
    int result = -1;
    const std::string report = runCsgetatr(&result);
    EXPECT_EQ(result, 0);
    EXPECT_TRUE(contains(report, "Registered Reader(s)\n"));
    EXPECT_TRUE(contains(report, "SCardStatus result:\n"));
    EXPECT_TRUE(contains(report, "    ATR = 3b 8e 80 01 "));
    EXPECT_FALSE(contains(report, "returned atr"));  // no buffer to return into

    script.establishResult = platform::pcscNoService;
    EXPECT_EQ(runCsgetatr(&result), "\nError [0x8010001d]: Program terminated abnormally.\n");
    EXPECT_EQ(static_cast<platform::PcscResult>(result), platform::pcscNoService);
}

TEST_F(ScriptedProbe, NullBufferReportsWithoutCopyingAndNullLengthIsRefused) {
    script.readers = {cardReader("Reader A", atr19)};
    Probe probe = runGetatrstr(1, false);
    EXPECT_EQ(probe.result, 0);
    EXPECT_EQ(probe.length, 0);
    EXPECT_TRUE(contains(probe.output, "    ATR = 3b 8e "));
    EXPECT_FALSE(contains(probe.output, "copyATR"));
    EXPECT_FALSE(contains(probe.output, "returned atr"));

    script.calls.clear();
    unsigned char buffer[32];
    EXPECT_EQ(static_cast<platform::PcscResult>(getatrstr(1, buffer, nullptr)), platform::pcscInvalidParameter);
    EXPECT_TRUE(script.calls.empty());
}

}  // namespace

namespace {

// The Java entry in the JNI double, with its k-th JNI call that can fail failing in turn for
// each way the probe ends: an ATR, a PC/SC failure, no card. Java sees the array or one
// exception (the JVM's own when its call failed), never both and never neither, and no JNI
// call is made on top of a pending exception.
TEST_F(ScriptedProbe, JavaEntryAnswersEveryJvmFailureCleanly) {
    struct Ending {
        const char* name;
        void (*prepare)(Script&);
        const char* exception;  // "" for the array
    };
    const Ending endings[] = {
        {"atr", [](Script& s) { s.readers = {cardReader("Reader A", atr19)}; }, ""},
        {"no service", [](Script& s) { s.establishResult = platform::pcscNoService; },
         "it/vantrel/tirvex/util/ATRException"},
        {"no card", [](Script& s) { s.readers = scripted::emptyReaders(2); }, "it/vantrel/tirvex/util/ATRException"},
    };
    for (const Ending& ending : endings) {
        // k = 0 is the plain run; the sweep ends with the first k whose fault is not reached.
        int reachedFaults = 0;
        for (int k = 0; k <= reachedFaults + 1 && k < 20; k++) {
            SCOPED_TRACE(std::string(ending.name) + " with the JNI fault at " + std::to_string(k));
            Script& fresh = scripted::reset();
            ending.prepare(fresh);
            JNIEnv* env = jnidouble::reset();
            jnidouble::failCall(k);
            testing::internal::CaptureStdout();
            jbyteArray atr = Java_it_vantrel_tirvex_util_ATR_getATRdll(env, nullptr, JNI_FALSE);
            testing::internal::GetCapturedStdout();
            bool reached = k > 0 && !jnidouble::callFaultPending();
            if (reached) reachedFaults = k;
            jnidouble::failCall(0);
            EXPECT_EQ(std::vector<std::string>(), jnidouble::problems);
            std::string pending = jnidouble::pendingClass();
            EXPECT_NE(atr != nullptr, !pending.empty());
            if (!reached) {
                EXPECT_EQ(ending.exception, pending);
            } else {
                EXPECT_NE(ending.exception, pending) << "the JVM's failure is lost";
            }
            if (atr != nullptr) {
                std::vector<unsigned char> bytes(atr19.size());
                env->GetByteArrayRegion(atr, 0, static_cast<jsize>(bytes.size()),
                                        reinterpret_cast<jbyte*>(bytes.data()));
                EXPECT_EQ(atr19, bytes);
            }
        }
        EXPECT_GT(reachedFaults, 0) << ending.name << ": no JNI call could fail";
        std::fprintf(stderr, "%s: %d JNI call faults reached\n", ending.name, reachedFaults);
    }
}

}  // namespace
