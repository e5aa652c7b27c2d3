// Loads tavo.dll from the current directory as a host would and asks for transaction codes
// from several threads at once, without ever starting the service (no Java runtime needed).
// Usage: service_harness <threads> <calls per thread> <company code>
//        service_harness echo <mittente> <messaggio>   (both send exports with the echo service)
// Writes one line per code to "codes.txt": "<thread id in hex> <code>", or "<thread id> null"
// (not to standard output, which the service client redirects into its own stdout.log).
#include <windows.h>

#include "symbol.h"

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

using GetCodiceTavoFn = char*(__stdcall*)(const char*);
using SendMessageFn = char*(__stdcall*)(int*, int*, const char*, const char*, const char*);

struct Worker {
    GetCodiceTavoFn getCodiceTAVO = nullptr;
    const char* company = nullptr;
    int calls = 0;
    DWORD threadId = 0;
    std::vector<std::string> codes;
};

DWORD WINAPI work(void* argument) {
    Worker& worker = *static_cast<Worker*>(argument);
    worker.threadId = GetCurrentThreadId();
    for (int i = 0; i < worker.calls; ++i) {
        char* code = worker.getCodiceTAVO(worker.company);
        worker.codes.push_back(code != nullptr ? code : "null");
        std::free(code);  // the caller owns the block (both sides use msvcrt's heap)
    }
    return 0;
}

// The five arguments pass through the stub to the service client and the reply comes back;
// the out-parameters keep the values they had. Writes "<export> <statusOk> <errorNumber>" and
// the reply to "echo.txt".
int echo(HMODULE stub, const char* mittente, const char* messaggio) {
    FILE* out = std::fopen("echo.txt", "wb");
    if (out == nullptr) return 1;
    for (const char* name : {"sendMessageS", "sendMessageA"}) {
        auto send = exportedFunction<SendMessageFn>(stub, name);
        if (send == nullptr) return 1;
        int statusOk = 55, errorNumber = 66;
        char* reply = send(&statusOk, &errorNumber, "DLLECHO", mittente, messaggio);
        std::fprintf(out, "%s %d %d\n%s\n", name, statusOk, errorNumber, reply != nullptr ? reply : "null");
        std::free(reply);
    }
    std::fclose(out);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: service_harness <threads> <calls> <company code>\n");
        return 2;
    }
    HMODULE stub = LoadLibraryA("tavo.dll");
    if (stub == nullptr) {
        std::printf("LoadLibrary tavo.dll failed: %lu\n", GetLastError());
        return 1;
    }
    if (std::string(argv[1]) == "echo") return echo(stub, argv[2], argv[3]);
    auto getCodiceTAVO = exportedFunction<GetCodiceTavoFn>(stub, "getCodiceTAVO");
    if (getCodiceTAVO == nullptr) {
        std::printf("getCodiceTAVO not exported\n");
        return 1;
    }
    int threads = std::atoi(argv[1]);
    std::vector<Worker> workers(static_cast<size_t>(threads > 0 ? threads : 0));
    std::vector<HANDLE> handles;
    for (Worker& worker : workers) {
        worker.getCodiceTAVO = getCodiceTAVO;
        worker.company = argv[3];
        worker.calls = std::atoi(argv[2]);
        HANDLE thread = CreateThread(nullptr, 0, work, &worker, 0, nullptr);
        if (thread == nullptr) {
            std::printf("CreateThread failed: %lu\n", GetLastError());
            return 1;
        }
        handles.push_back(thread);
    }
    for (HANDLE thread : handles) {
        WaitForSingleObject(thread, INFINITE);
        CloseHandle(thread);
    }
    FILE* codes = std::fopen("codes.txt", "w");
    if (codes == nullptr) return 1;
    for (const Worker& worker : workers)
        for (const std::string& code : worker.codes) std::fprintf(codes, "%08lX %s\n", worker.threadId, code.c_str());
    std::fclose(codes);
    return 0;
}
