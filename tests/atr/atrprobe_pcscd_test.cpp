// atrprobe against a real pcscd with the vpcd reader driver and our virtual cards. The CTest
// fixture starts the daemon; ATR_PCSC_MODE says which stack this run sees:
// "readers" (two empty virtual readers), "none" (a daemon without readers), "down" (no daemon).
#include "atrprobe.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

namespace {

// Well-formed ATRs of 2, 19, 20, 32 and 33 bytes (the last one more than the probe has room for).
const char* const atr2Hex = "3b00";
const char* const atr19Hex =
    "3b8e800180318066b1840c016e0183009000"
    "1c";
const char* const atr20Hex = "3b8f8001804f0ca000000306030001000000006a";
const char* const atr32Hex = "3bff96000081f1fe4500f10000001f034142434445464748494a4b4c4d4e4f0f";
const char* const atr33Hex = "3bff9600009111f1fe4500f10000001f034142434445464748494a4b4c4d4e4f0e";

constexpr int insufficientBuffer = static_cast<int>(0x80100008);
constexpr int noReadersAvailable = static_cast<int>(0x8010002E);
constexpr int noService = static_cast<int>(0x8010001D);

std::string environment(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
}

std::vector<unsigned char> fromHex(const std::string& hex) {
    std::vector<unsigned char> bytes;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
        bytes.push_back(static_cast<unsigned char>(std::stoi(hex.substr(i, 2), nullptr, 16)));
    return bytes;
}

void harness(const std::string& arguments) {
    const std::string command =
        "'" + environment("ATR_PCSC_PYTHON") + "' '" + environment("ATR_PCSC_SCRIPT") + "' " + arguments;
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
}

void insertCard(int slot, const char* atrHex) {
    harness("insert " + environment("ATR_PCSC_DIR") + " " + std::to_string(slot) + " " + atrHex);
}

void removeCard(int slot) { harness("remove " + environment("ATR_PCSC_DIR") + " " + std::to_string(slot)); }

struct Probe {
    int result;
    int length;
    std::vector<unsigned char> buffer;
    std::string output;
    std::vector<unsigned char> atr() const { return {buffer.begin(), buffer.begin() + (length > 0 ? length : 0)}; }
};

Probe runGetatrstr(int verbose) {
    Probe probe{0, -1, std::vector<unsigned char>(48, 0xEE), ""};
    testing::internal::CaptureStdout();
    probe.result = getatrstr(verbose, probe.buffer.data(), &probe.length);
    probe.output = testing::internal::GetCapturedStdout();
    return probe;
}

bool contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

void expectFailureReportedOnlyWhenVerbose(int code, const std::string& errorLine) {
    Probe quiet = runGetatrstr(0);
    EXPECT_EQ(quiet.result, code);
    EXPECT_EQ(quiet.length, 0);
    EXPECT_EQ(quiet.output, "");
    Probe verbose = runGetatrstr(1);
    EXPECT_EQ(verbose.result, code);
    EXPECT_EQ(verbose.output, errorLine);
}

class Stack : public testing::Test {
protected:
    void requireMode(const char* mode) {
        if (environment("ATR_PCSC_MODE") != mode) GTEST_SKIP() << "needs the \"" << mode << "\" PC/SC stack";
    }
};

class VirtualReaders : public Stack {
protected:
    void SetUp() override {
        requireMode("readers");
        if (IsSkipped()) return;
        removeCard(0);
        removeCard(1);
    }
};

TEST_F(VirtualReaders, OneCardWith19ByteAtrIsReadQuietly) {
    insertCard(0, atr19Hex);
    Probe probe = runGetatrstr(0);
    EXPECT_EQ(probe.result, 0);
    EXPECT_EQ(probe.length, 19);
    EXPECT_EQ(probe.atr(), fromHex(atr19Hex));
    for (std::size_t i = 19; i < probe.buffer.size(); ++i) EXPECT_EQ(probe.buffer[i], 0xEE) << i;
    EXPECT_EQ(probe.output, "\n returned atr \n");
}

TEST_F(VirtualReaders, WithCardsInBothReadersTheSecondOneCounts) {
    insertCard(0, atr19Hex);
    insertCard(1, atr20Hex);
    Probe probe = runGetatrstr(0);
    EXPECT_EQ(probe.result, 0);
    EXPECT_EQ(probe.atr(), fromHex(atr20Hex));
    EXPECT_EQ(probe.output, "\n returned atr \n\n returned atr \n");

    removeCard(1);
    EXPECT_EQ(runGetatrstr(0).atr(), fromHex(atr19Hex));
}

TEST_F(VirtualReaders, EmptyReadersGiveSuccessWithoutAtr) {
    Probe probe = runGetatrstr(1);
    EXPECT_EQ(probe.result, 0);
    EXPECT_EQ(probe.length, 0);
    EXPECT_TRUE(contains(probe.output,
                         "\nCard in reader\n==============\n"
                         "01: Virtual PCD 00 00\n    No Smart Card found in this reader.\n"
                         "02: Virtual PCD 00 01\n    No Smart Card found in this reader.\n"));
    EXPECT_FALSE(contains(probe.output, "Error ["));
}

TEST_F(VirtualReaders, VerboseReportShowsListingsAndTheMappedCardState) {
    insertCard(1, atr20Hex);
    Probe probe = runGetatrstr(1);
    ASSERT_EQ(probe.result, 0);
    EXPECT_TRUE(contains(probe.output,
                         "\nRegistered Reader(s)\n====================\n01: Virtual PCD 00 00\n02: Virtual PCD 00 01\n"
                         "\nRegistered Card(s)\n==================\n"
                         "No registered Smart Card was found for the specified ATR [(null)].\n"
                         "\nRegistered Group(s)\n===================\n01: SCard$DefaultReaders\n"));
    // pcsc-lite reports present | powered | negotiable: the highest bit maps to state 5; T=1 is 2.
    EXPECT_TRUE(contains(probe.output,
                         "02: Virtual PCD 00 01\nSCardStatus result:\nlResult = 0 0 \ncchReaderLen = 18 12 \n"
                         "State = 05 05 \nProtocol = 02 02 \n"
                         "The card has been reset and is awaiting PTS negotiation.\n"
                         "    ATR = 3b 8f 80 01 80 4f 0c a0 00 00 03 06 03 00 01 00 00 00 00 6a \n"))
        << probe.output;
    EXPECT_TRUE(contains(probe.output, "atrlen = 20 14 \n"));
    EXPECT_TRUE(contains(probe.output, "atrlen dword is 20 \natrlen uint  is 20 \ncopyATR = 3b 8f "));
    EXPECT_TRUE(contains(probe.output, "\n returned atr \n\n"));
}

TEST_F(VirtualReaders, AtrsFromShortestToLongestFitAndOneByteMoreIsRefused) {
    insertCard(0, atr2Hex);
    EXPECT_EQ(runGetatrstr(0).atr(), fromHex(atr2Hex));

    insertCard(0, atr32Hex);
    Probe fits = runGetatrstr(0);
    EXPECT_EQ(fits.result, 0);
    EXPECT_EQ(fits.atr(), fromHex(atr32Hex));
    for (std::size_t i = 32; i < fits.buffer.size(); ++i) EXPECT_EQ(fits.buffer[i], 0xEE) << i;

    // The 33-byte card is the last one holding a card: its failure is the result, the buffer
    // keeps the earlier reader's ATR and nothing lands past 32 bytes.
    insertCard(1, atr33Hex);
    Probe tooLong = runGetatrstr(1);
    EXPECT_EQ(tooLong.result, insufficientBuffer);
    EXPECT_EQ(tooLong.atr(), fromHex(atr32Hex));
    for (std::size_t i = 32; i < tooLong.buffer.size(); ++i) EXPECT_EQ(tooLong.buffer[i], 0xEE) << i;
    EXPECT_TRUE(contains(tooLong.output, "atrlen = 33 21 \n"));
    EXPECT_TRUE(contains(tooLong.output, "\nError [0x80100008]: Program terminated abnormally.\n"));
}

TEST_F(VirtualReaders, CardRemovalIsSeenAndCsgetatrReportsAfterQuietCall) {
    insertCard(0, atr19Hex);
    ASSERT_EQ(runGetatrstr(0).length, 19);
    removeCard(0);
    Probe gone = runGetatrstr(0);
    EXPECT_EQ(gone.result, 0);
    EXPECT_EQ(gone.length, 0);

    insertCard(1, atr19Hex);
    testing::internal::CaptureStdout();
    const int result = csgetatr();
    const std::string report = testing::internal::GetCapturedStdout();
    EXPECT_EQ(result, 0);
    EXPECT_TRUE(contains(report, "    ATR = 3b 8e 80 01 80 31 80 66 b1 84 0c 01 6e 01 83 00 90 00 1c \n"));
    EXPECT_FALSE(contains(report, "returned atr"));
}

class NoReaders : public Stack {
protected:
    void SetUp() override { requireMode("none"); }
};

TEST_F(NoReaders, TheFirstListingFailsAndNothingIsScanned) {
    expectFailureReportedOnlyWhenVerbose(noReadersAvailable, "\nError [0x8010002e]: Program terminated abnormally.\n");
    testing::internal::CaptureStdout();
    EXPECT_EQ(csgetatr(), noReadersAvailable);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "\nError [0x8010002e]: Program terminated abnormally.\n");
}

class NoService : public Stack {
protected:
    void SetUp() override { requireMode("down"); }
};

TEST_F(NoService, TheServicesCodeComesBack) {
    expectFailureReportedOnlyWhenVerbose(noService, "\nError [0x8010001d]: Program terminated abnormally.\n");
}

}  // namespace
