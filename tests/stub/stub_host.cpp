// A native host for the stub tests: loads the stub from the current directory as a host
// application would, calls the exports named on the command line and reports each result as
// one line on file descriptor 3 (the service client redirects the standard streams). Two more
// commands: "build" reports which build of the service client marked the process, and
// "descriptors" how many file descriptors the process holds beyond those it started with.
#include <dirent.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "dynlib.h"
#include "fileops.h"
#include "tavo_api.h"

namespace {

constexpr int kReportFd = 3;

std::string printable(const char* text) {
    if (text == nullptr) return "(null)";
    std::string escaped;
    for (const char* c = text; *c != '\0'; ++c) escaped += *c == '\n' ? std::string("\\n") : std::string(1, *c);
    return escaped;
}

void report(const std::string& line) { dprintf(kReportFd, "%s\n", line.c_str()); }

int openDescriptors() {
    DIR* listing = opendir("/proc/self/fd");
    if (listing == nullptr) return -1;
    int count = 0;
    while (readdir(listing) != nullptr) ++count;
    closedir(listing);
    return count;
}

int descriptorsAtStart = 0;

// Reports a string result and releases it: the caller owns every string it receives.
void reportText(const char* name, char* text) {
    report(std::string(name) + "=" + printable(text));
    std::free(text);
}

void callSend(platform::LibraryHandle stub, const char* name, const char* servizio) {
    auto send = reinterpret_cast<SendMessageFn>(platform::findSymbol(stub, name));
    int statusOk = 12345, errorNumber = 12345;
    char* reply = send(&statusOk, &errorNumber, servizio, "M", "X");
    reportText(name, reply);
    report("statusOk=" + std::to_string(statusOk) + " errorNumber=" + std::to_string(errorNumber));
}

// A send export may carry its servizio after "=" (the echo service otherwise).
void call(platform::LibraryHandle stub, const std::string& command) {
    std::string name = command.substr(0, command.find('='));
    std::string servizio = name.size() < command.size() ? command.substr(name.size() + 1) : "DLLECHO";
    if (name == "build") {
        const char* build = std::getenv("TAVO2_BUILD");
        report(std::string("build=") + (build != nullptr ? build : "ordinary"));
        return;
    }
    if (name == "descriptors") {
        report("descriptors=+" + std::to_string(openDescriptors() - descriptorsAtStart));
        return;
    }
    void* entry = platform::findSymbol(stub, name.c_str());
    if (entry == nullptr) {
        report(name + " not exported");
    } else if (name == "startTavo" || name == "getRideConfig") {
        report(name + "=" + std::to_string(reinterpret_cast<StartTavoFn>(entry)()));
    } else if (name == "stopTavo") {
        reinterpret_cast<StopTavoFn>(entry)();
        report(name + " done");
    } else if (name == "getCodiceTAVO") {
        reportText(name.c_str(), reinterpret_cast<GetCodiceTavoFn>(entry)("999"));
    } else if (name == "sendMessageS" || name == "sendMessageA") {
        callSend(stub, name.c_str(), servizio.c_str());
    } else {
        reportText(name.c_str(), reinterpret_cast<TextResultFn>(entry)());
    }
}

}  // namespace

int main(int argc, char** argv) {
    descriptorsAtStart = openDescriptors();
    platform::LibraryHandle stub = platform::loadLibraryByName(TAVO_STUB_FILE);
    if (stub == nullptr) {
        report("not loaded: " + std::to_string(platform::lastErrorCode()));
        return 1;
    }
    report("loaded");
    for (int i = 1; i < argc; ++i) call(stub, argv[i]);
    platform::releaseLibrary(stub);
    return 0;
}
