#include "install_support.h"

#include <fcntl.h>
#include <signal.h>
#include <grp.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <regex>
#include <stdexcept>
#include <thread>

#include "test_support.h"

namespace {
constexpr uid_t kNobody = 65534;
constexpr int kReportFd = 3;
}  // namespace

bool runningAsRoot() { return geteuid() == 0; }

void handToNobody(const std::string& path) {
    if (runningAsRoot() && chown(path.c_str(), kNobody, kNobody) != 0) throw std::runtime_error("chown " + path);
}

ProgramRun runProgram(const std::vector<std::string>& argv, RunOptions options) {
    int channel[2];
    if (pipe(channel) != 0) throw std::runtime_error("pipe failed");
    pid_t child = fork();
    if (child < 0) throw std::runtime_error("fork failed");
    if (child == 0) {
        close(channel[0]);
        if (dup2(channel[1], kReportFd) < 0) _exit(126);
        if (options.captureStdout && dup2(channel[1], 1) < 0) _exit(126);
        if (channel[1] != kReportFd) close(channel[1]);
        if (options.hostsJvm) setenv("ASAN_OPTIONS", "detect_leaks=0", 1);
        if (options.unprivileged && runningAsRoot()) {
            if (setgroups(0, nullptr) != 0 || setgid(kNobody) != 0 || setuid(kNobody) != 0) _exit(126);
        }
        std::vector<char*> args;
        for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
        args.push_back(nullptr);
        execv(args[0], args.data());
        _exit(127);
    }
    close(channel[1]);
    std::string report;
    char buffer[4096];
    ssize_t got;
    while ((got = read(channel[0], buffer, sizeof buffer)) != 0) {
        if (got < 0) {
            if (errno == EINTR) continue;
            break;
        }
        report.append(buffer, static_cast<size_t>(got));
    }
    close(channel[0]);
    int status = 0;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, report};
}

#if defined(XML_SERVICE_JAR)
LocalXmlService::LocalXmlService() {
    std::string portFile = std::filesystem::temp_directory_path() / ("tavo-xmlservice-" + std::to_string(getpid()));
    std::filesystem::remove(portFile);
    pid_t child = fork();
    if (child < 0) throw std::runtime_error("fork failed");
    if (child == 0) {
        int quiet = open("/dev/null", O_WRONLY);
        dup2(quiet, 1);
        dup2(quiet, 2);
        unsetenv("ASAN_OPTIONS");
        execl(JAVA_EXECUTABLE, JAVA_EXECUTABLE, "-jar", XML_SERVICE_JAR, "0", portFile.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    pid = child;
    // The service writes its port file (atomically) once it listens.
    for (int waited = 0; waited < 600 && endpoint.empty(); ++waited) {
        std::string port = readFile(portFile);
        if (port != "<missing>" && !port.empty()) endpoint = "http://127.0.0.1:" + port + "/tavo";
        else std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    std::filesystem::remove(portFile);
}

LocalXmlService::~LocalXmlService() {
    kill(pid, SIGTERM);
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
}
#endif

void copyFile(const std::string& from, const std::string& to) {
    std::filesystem::copy_file(from, to, std::filesystem::copy_options::overwrite_existing);
}

bool fileExists(const std::string& path) { return std::filesystem::exists(std::filesystem::symlink_status(path)); }

std::string readDailyLogs(const std::string& prefix) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(".")) {
        std::string name = entry.path().filename().string();
        if (name.rfind(prefix, 0) == 0) names.push_back(name);
    }
    std::sort(names.begin(), names.end());
    std::string text;
    for (const std::string& name : names) text += readFile(name);
    return text;
}

std::vector<std::string> stubLogEntries(const std::string& logText) {
    static const std::regex prefix(R"(\[\d\d/\d\d/\d{4} \d\d:\d\d:\d\d:\d{3}\] (DEBUG|WARN|ERROR) - )");
    std::vector<std::string> entries;
    size_t previousEnd = 0;
    for (auto match = std::sregex_iterator(logText.begin(), logText.end(), prefix); match != std::sregex_iterator();
         ++match) {
        size_t start = static_cast<size_t>(match->position());
        if (entries.empty() && start != 0) return {};
        if (!entries.empty()) entries.back() += logText.substr(previousEnd, start - previousEnd);
        entries.push_back((*match)[1].str() + " ");
        previousEnd = start + static_cast<size_t>(match->length());
    }
    if (!entries.empty()) entries.back() += logText.substr(previousEnd);
    return entries;
}

void writeServiceConfiguration(const std::string& classPath, const std::vector<std::string>& options) {
    std::string text = classPath + "\njvmdllpath=" JVM_LIBRARY "\n";
    for (const std::string& option : options) text += "option=" + option + "\n";
    writeFile("tavodll_classpath.conf", text);
}
