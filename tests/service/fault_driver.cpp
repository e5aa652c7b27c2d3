// The fault driver of the service client: tavo2 loaded into this host over the fake Java
// runtime (tests/jni), every export called with the k-th JNI call that can fail failing (a
// class, method or object the JVM cannot give, a thread it cannot attach), for k = 1, 2, ...
// until a run ends without reaching it. After every run: no JNI call on top of a pending
// exception and no exception left behind, every string's characters given back, every
// attached thread detached with no local reference left, the heap where it was, and the
// export's answer its specified failure result when the fault was reached, its normal one
// otherwise.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "jni_double.h"
#include "live_heap.h"

namespace {

void* library = nullptr;

template <typename Fn>
Fn exported(const char* name) {
    return reinterpret_cast<Fn>(dlsym(library, name));
}

using IntFn = int (*)();
using VoidFn = void (*)();
using TextFn = char* (*)();
using SendFn = char* (*)(int*, int*, const char*, const char*, const char*);
using CodeFn = char* (*)(const char*);

// What an export answered: whether it is the specified failure result, and its text.
struct Answer {
    bool failed;
    std::string text;
};

Answer textAnswer(char* text) {
    Answer answer{text == nullptr, text != nullptr ? text : ""};
    std::free(text);  // the caller owns the block
    return answer;
}

struct Export {
    const char* name;
    std::function<Answer()> call;
    const char* normal;  // the answer's text when nothing failed
    bool hasFailureResult = true;
};

std::vector<Export> exports() {
    auto send = [](const char* name) {
        return [name] {
            int statusOk = 55, errorNumber = 66;
            Answer answer = textAnswer(exported<SendFn>(name)(&statusOk, &errorNumber, "SVC", "mittente", "testo"));
            if (!answer.failed) answer.text += " " + std::to_string(statusOk) + " " + std::to_string(errorNumber);
            return answer;
        };
    };
    return {
        {"startTavo",
         [] {
             return Answer{exported<IntFn>("startTavo")() == 0, ""};
         },
         ""},
        {"stopTavo",
         [] {
             exported<VoidFn>("stopTavo")();
             return Answer{false, ""};
         },
         "", false},
        {"checkTransport", [] { return textAnswer(exported<TextFn>("checkTransport")()); }, "OK"},
        {"getVersionePorta", [] { return textAnswer(exported<TextFn>("getVersionePorta")()); }, "1.0"},
        {"getRideConfig",
         [] {
             int value = exported<IntFn>("getRideConfig")();
             return Answer{value == 0, std::to_string(value)};
         },
         "7"},
        {"sendMessageS", send("sendMessageS"), "<reply/> -1 0"},
        {"sendMessageA", send("sendMessageA"), "<reply/> -1 0"},
        {"getCodiceTAVO",
         [] {
             Answer answer = textAnswer(exported<CodeFn>("getCodiceTAVO")("999"));
             answer.text = answer.text.substr(0, 3);
             return answer;
         },
         "999"},
    };
}

class ServiceFaults : public ::testing::TestWithParam<Export> {
protected:
    static void SetUpTestSuite() {
        // The service reads its configuration and the fake runtime its script from here.
        std::ofstream("tavodll_classpath.conf") << "fake.jar\njvmdllpath=" FAKEJVM_LIBRARY "\n";
        std::ofstream("fakejvm_script.txt") << "journal 0\ncheckTransport OK\ngetVersionePorta 1.0\ngetRideConfig 7\n";
        library = dlopen(TAVO2_LIBRARY, RTLD_NOW);
        ASSERT_NE(nullptr, library) << dlerror();
        for (const Export& entry : exports()) ASSERT_NE(nullptr, dlsym(library, entry.name)) << entry.name;
        ASSERT_EQ(1, exported<IntFn>("startTavo")());  // creates the virtual machine
    }

    // One run with the fault planned at k (0: none); true when the fault was reached.
    static bool run(const Export& entry, int k, bool holdHeap) {
        std::string where = std::string(entry.name) + " with the JNI fault at " + std::to_string(k) + ": ";
        jnidouble::reset();
        size_t heapBefore = liveHeapBytes();
        jnidouble::failCall(k);
        Answer answer = entry.call();
        bool reached = k > 0 && !jnidouble::callFaultPending();
        jnidouble::failCall(0);

        jnidouble::checkAllReleased();
        EXPECT_EQ(std::vector<std::string>(), jnidouble::problems) << where << "JNI misused";
        EXPECT_EQ("", jnidouble::pendingClass()) << where << "an exception left pending";
        EXPECT_EQ(0, jnidouble::attachedThreads()) << where << "a thread left attached";
        EXPECT_EQ(0, jnidouble::localRefsLeftAtDetach()) << where << "local references left at the detach";
        if (entry.hasFailureResult) {
            EXPECT_EQ(reached, answer.failed) << where << "answered " << answer.text;
        }
        if (!reached) {
            EXPECT_EQ(entry.normal, answer.text) << where;
        }
        jnidouble::collect(0);
        jnidouble::forgetRecords();
        if (heapBefore != 0 && holdHeap) {
            EXPECT_EQ(heapBefore, liveHeapBytes()) << where << "heap bytes left behind";
        }
        return reached;
    }
};

// Each case runs twice and is held to its second run: a first failure can make the double
// learn a method that stays.
TEST_P(ServiceFaults, EveryFailureInTurnIsAnsweredCleanly) {
    const Export& entry = GetParam();
    run(entry, 0, false);
    int k = 1;
    while (run(entry, k, false) && run(entry, k, true) && k < 200) k++;
    std::fprintf(stderr, "%s: %d JNI call faults reached\n", entry.name, k - 1);
}

// The faults the sweeps found, each pinned at its k.
TEST_F(ServiceFaults, FoundFaultsStayMended) {
    struct Found {
        const char* entry;
        int k;
    };
    const Found found[] = {
        // The proxy's constructor not found: the JVM's error stayed pending through the detach.
        {"checkTransport", 3},
        {"startTavo", 3},
        // A send argument the JVM could not make: the next one was asked for under its error.
        {"sendMessageS", 6},
        {"sendMessageA", 7},
    };
    for (const Found& f : found) {
        SCOPED_TRACE(f.entry);
        for (const Export& entry : exports()) {
            if (std::string(entry.name) != f.entry) continue;
            run(entry, f.k, false);
            EXPECT_TRUE(run(entry, f.k, true));
        }
    }
}

void PrintTo(const Export& entry, std::ostream* out) { *out << entry.name; }

INSTANTIATE_TEST_SUITE_P(Exports, ServiceFaults, ::testing::ValuesIn(exports()),
                         [](const ::testing::TestParamInfo<Export>& info) { return std::string(info.param.name); });

}  // namespace

// tavo2 takes standard output and error over while it is loaded: each process works in a
// folder of its own and shows what was written there on the streams it had. The library stays
// loaded to the end, as in a host.
int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    std::string folder = std::string(SCRATCH_DIR) + "/" + std::to_string(getpid());
    mkdir(SCRATCH_DIR, 0755);
    mkdir(folder.c_str(), 0755);
    if (chdir(folder.c_str()) != 0) return 2;
    const std::pair<const char*, int> captured[] = {{"stdout.log", dup(1)}, {"stderr.log", dup(2)}};
    int result = RUN_ALL_TESTS();
    std::fflush(nullptr);
    for (const auto& [name, stream] : captured) {
        std::ifstream in(name, std::ios::binary);
        std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        if (write(stream, text.data(), text.size()) < 0) result = 2;
    }
    std::string clean = "rm -rf '" + folder + "'";
    if (std::system(clean.c_str()) != 0) return 2;
    return result;
}
