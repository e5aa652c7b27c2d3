// A native host for tavo2: loads the library by path and runs the commands of its command
// line in order, writing one result line per command to "host.out" in the current directory
// (tavo2 takes over standard output and error when it loads).
//
//   tavo2_host <library> <command> [arguments] ...
//   start | stop | check | version | ride | unload | code <company>
//   sendS|sendA <servizio> <mittente> <messaggio>      (an argument "@NULL" is a null pointer)
//   sendNoOut <servizio> <mittente> <messaggio>         (null statusOk and errorNumber)
//   parallelSend <threads> <calls each>                 (servizio OK, checks every reply)
//   parallelCode <threads> <codes each>                 (counts distinct random parts)
//   ownJvm <libjvm path>                                (the host creates a JVM of its own first)
#include <dlfcn.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "tavo2_exports.h"

namespace {

FILE* out = nullptr;
void* library = nullptr;

template <typename Fn>
Fn entry(const char* name) {
    void* symbol = dlsym(library, name);
    if (symbol == nullptr) {
        std::fprintf(out, "missing export %s\n", name);
        std::fflush(out);
        std::exit(3);
    }
    return reinterpret_cast<Fn>(symbol);
}

using TextFn = char* (*)();
using SendFn = char* (*)(int*, int*, const char*, const char*, const char*);

const char* argument(const char* text) { return std::strcmp(text, "@NULL") == 0 ? nullptr : text; }

// Replies may span lines: line feeds are written as "\\n" to keep one result per line.
std::string printable(const char* text) {
    if (text == nullptr) return "NULL";
    std::string result;
    for (const char* p = text; *p != 0; ++p) result += *p == '\n' ? std::string("\\n") : std::string(1, *p);
    return result;
}

void report(const char* name, char* text) {
    std::fprintf(out, "%s=%s\n", name, printable(text).c_str());
    std::free(text);
}

void send(const char* name, char** args, bool withOut) {
    int status = 12345;
    int error = 12345;
    auto fn = entry<SendFn>(name);
    char* reply = fn(withOut ? &status : nullptr, withOut ? &error : nullptr, argument(args[0]), argument(args[1]),
                     argument(args[2]));
    std::fprintf(out, "%s=%s status=%d error=%d\n", name, printable(reply).c_str(), status, error);
    std::free(reply);
}

void parallelSend(int threads, int calls) {
    auto fn = entry<SendFn>("sendMessageS");
    std::atomic<int> good{0};
    std::vector<std::thread> workers;
    for (int t = 0; t < threads; ++t) {
        workers.emplace_back([&, t] {
            for (int k = 0; k < calls; ++k) {
                std::string mittente = "t" + std::to_string(t);
                std::string messaggio = "m" + std::to_string(t) + "-" + std::to_string(k);
                int status = 0;
                int error = 1;
                char* reply = fn(&status, &error, "OK", mittente.c_str(), messaggio.c_str());
                std::string expected = "mittente='" + mittente + "'>" + messaggio + "|";
                if (reply != nullptr && std::strstr(reply, expected.c_str()) != nullptr && status == -1 && error == 0)
                    ++good;
                std::free(reply);
            }
        });
    }
    for (auto& worker : workers) worker.join();
    std::fprintf(out, "parallelSend=%d/%d\n", good.load(), threads * calls);
}

void parallelCode(int threads, int calls) {
    auto fn = entry<char* (*)(const char*)>("getCodiceTAVO");
    std::mutex guard;
    std::set<std::string> parts;
    int total = 0;
    std::vector<std::thread> workers;
    for (int t = 0; t < threads; ++t) {
        workers.emplace_back([&] {
            for (int k = 0; k < calls; ++k) {
                char* code = fn("PAR");
                std::lock_guard<std::mutex> lock(guard);
                ++total;
                if (code != nullptr && std::strlen(code) == 16) parts.insert(std::string(code + 3, 6));
                std::free(code);
            }
        });
    }
    for (auto& worker : workers) worker.join();
    std::fprintf(out, "parallelCode=%zu/%d\n", parts.size(), total);
}

// A host that already runs a JVM: the process can hold only one.
void createOwnJvm(const char* runtimePath) {
    using CreateFn = int (*)(void**, void**, void*);
    void* runtime = dlopen(runtimePath, RTLD_NOW | RTLD_LOCAL);
    auto create = runtime != nullptr ? reinterpret_cast<CreateFn>(dlsym(runtime, "JNI_CreateJavaVM")) : nullptr;
    struct InitArgs {
        int version;
        int nOptions;
        void* options;
        unsigned char ignoreUnrecognized;
    } args = {0x10002, 0, nullptr, 1};
    void* vm = nullptr;
    void* env = nullptr;
    std::fprintf(out, "ownJvm=%d\n", create != nullptr ? create(&vm, &env, &args) : -100);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) return 2;
    out = std::fopen("host.out", "w");
    if (out == nullptr) return 2;
    library = dlopen(argv[1], RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr) {
        std::fprintf(out, "dlopen failed: %s\n", dlerror());
        return 2;
    }
    for (int i = 2; i < argc; ++i) {
        std::string command = argv[i];
        int remaining = argc - i - 1;
        if (command == "start") {
            std::fprintf(out, "start=%d\n", entry<int (*)()>("startTavo")());
        } else if (command == "stop") {
            entry<void (*)()>("stopTavo")();
            std::fprintf(out, "stop\n");
        } else if (command == "check") {
            report("check", entry<TextFn>("checkTransport")());
        } else if (command == "version") {
            report("version", entry<TextFn>("getVersionePorta")());
        } else if (command == "ride") {
            std::fprintf(out, "ride=%d\n", entry<int (*)()>("getRideConfig")());
        } else if (command == "code" && remaining >= 1) {
            report("code", entry<char* (*)(const char*)>("getCodiceTAVO")(argument(argv[++i])));
        } else if ((command == "sendS" || command == "sendA" || command == "sendNoOut") && remaining >= 3) {
            send(command == "sendA" ? "sendMessageA" : "sendMessageS", argv + i + 1, command != "sendNoOut");
            i += 3;
        } else if (command == "parallelSend" && remaining >= 2) {
            parallelSend(std::atoi(argv[i + 1]), std::atoi(argv[i + 2]));
            i += 2;
        } else if (command == "parallelCode" && remaining >= 2) {
            parallelCode(std::atoi(argv[i + 1]), std::atoi(argv[i + 2]));
            i += 2;
        } else if (command == "ownJvm" && remaining >= 1) {
            createOwnJvm(argv[++i]);
        } else if (command == "unload") {
            dlclose(library);
            library = nullptr;
            std::printf("printed after unload\n");
            std::fflush(stdout);
            std::fprintf(out, "unloaded\n");
        } else {
            std::fprintf(out, "bad command %s\n", command.c_str());
            return 2;
        }
        std::fflush(out);
    }
    std::fclose(out);
    return 0;
}
