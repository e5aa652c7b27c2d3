// The plan and the journal of the fault seam (test builds only). The stub's file operations
// all run in its process-attach work, which the loader serialises: no lock.
#include "fault_seam.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace platform {
namespace faults {
namespace {

struct Step {
    long index;
    Action action;
};

const struct {
    const char* name;
    Action action;
} kActions[] = {{"denied", Action::denied},        {"exists", Action::exists}, {"missing", Action::missing},
                {"nomem", Action::outOfMemory},    {"other", Action::other},   {"kill-before", Action::killBefore},
                {"kill-after", Action::killAfter}, {"hold", Action::hold}};

const char* actionName(Action action) {
    for (const auto& known : kActions)
        if (known.action == action) return known.name;
    return "";
}

// The plan, read once; an entry that does not parse ends the process, so a mistyped plan
// never passes for a clean run.
const std::vector<Step>& plan() {
    static std::vector<Step> steps = [] {
        std::vector<Step> parsed;
        const char* text = std::getenv("VANTREL_FAULT_PLAN");
        while (text != nullptr && *text != '\0') {
            char* end = nullptr;
            long index = std::strtol(text, &end, 10);
            if (end == text || *end != ':' || index < 1) endProcessNow();
            const char* name = end + 1;
            size_t length = std::strcspn(name, ",");
            Action action = Action::none;
            for (const auto& known : kActions)
                if (std::strlen(known.name) == length && std::strncmp(known.name, name, length) == 0)
                    action = known.action;
            if (action == Action::none) endProcessNow();
            parsed.push_back({index, action});
            text = name[length] == ',' ? name + length + 1 : name + length;
        }
        return parsed;
    }();
    return steps;
}

long reached = 0;

Action planned(long index) {
    for (const Step& step : plan())
        if (step.index == index) return step.action;
    return Action::none;
}

void journal(const char* operation, const char* fileName, const char* target, Action action) {
    const char* path = std::getenv("VANTREL_FAULT_JOURNAL");
    if (path == nullptr) return;
    FILE* file = std::fopen(path, "a");
    if (file == nullptr) return;
    std::fprintf(file, "%ld %s %s%s%s%s%s\n", reached, operation, fileName != nullptr ? fileName : "(null)",
                 target != nullptr ? " " : "", target != nullptr ? target : "", action == Action::none ? "" : " ",
                 actionName(action));
    std::fclose(file);
}

}  // namespace

int before(const char* operation, const char* fileName, const char* target) {
    ++reached;
    Action action = planned(reached);
    journal(operation, fileName, target, action);
    if (action == Action::killBefore) endProcessNow();
    if (action == Action::hold) {
        const char* hold = std::getenv("VANTREL_FAULT_HOLD_MS");
        waitMilliseconds(hold != nullptr ? std::atol(hold) : 2000);
    }
    return nativeError(action);
}

void after() {
    if (planned(reached) == Action::killAfter) endProcessNow();
}

}  // namespace faults
}  // namespace platform
