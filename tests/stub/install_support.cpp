#include "install_support.h"

#include <fcntl.h>
#include <grp.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
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
    return finishProgram(startProgram(argv, options));
}

StartedProgram startProgram(const std::vector<std::string>& argv, const RunOptions& options) {
    int channel[2];
    if (pipe(channel) != 0) throw std::runtime_error("pipe failed");
    pid_t child = fork();
    if (child < 0) throw std::runtime_error("fork failed");
    if (child == 0) {
        close(channel[0]);
        if (options.gate[0] >= 0) {
            close(options.gate[1]);
            char byte;
            while (read(options.gate[0], &byte, 1) < 0 && errno == EINTR) {
            }
        }
        if (dup2(channel[1], kReportFd) < 0) _exit(126);
        if (options.quiet) dup2(open("/dev/null", O_WRONLY), 1);
        if (options.captureStdout && dup2(channel[1], 1) < 0) _exit(126);
        if (channel[1] != kReportFd) close(channel[1]);
        if (options.hostsJvm)
            setenv("ASAN_OPTIONS", "handle_segv=0:allow_user_segv_handler=1:detect_leaks=0", 1);
        else if (options.keepsHandedOverBlock)
            setenv("ASAN_OPTIONS", "detect_leaks=0", 1);
        for (const std::string& entry : options.environment) putenv(const_cast<char*>(entry.c_str()));
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
    return {child, channel[0]};
}

ProgramRun finishProgram(StartedProgram program) {
    std::string report;
    char buffer[4096];
    ssize_t got;
    while ((got = read(program.report, buffer, sizeof buffer)) != 0) {
        if (got < 0) {
            if (errno == EINTR) continue;
            break;
        }
        report.append(buffer, static_cast<size_t>(got));
    }
    close(program.report);
    int status = 0;
    while (waitpid(program.pid, &status, 0) < 0 && errno == EINTR) {
    }
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, report, WIFSIGNALED(status) ? WTERMSIG(status) : 0};
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
        execl(JAVA_EXECUTABLE, JAVA_EXECUTABLE, "-jar", XML_SERVICE_JAR, "0", portFile.c_str(),
              static_cast<char*>(nullptr));
        _exit(127);
    }
    pid = child;
    // The service writes its port file (atomically) once it listens.
    for (int waited = 0; waited < 600 && endpoint.empty(); ++waited) {
        std::string port = readFile(portFile);
        if (port != "<missing>" && !port.empty())
            endpoint = "http://127.0.0.1:" + port + "/tavo";
        else
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
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

namespace {

// Length of a stub log prefix "[dd/mm/yyyy hh:mm:ss:mmm] LEVEL - " at pos, or 0.
size_t stubPrefixAt(const std::string& text, size_t pos) {
    static const std::string stamp = "[00/00/0000 00:00:00:000] ";
    if (text.size() - pos < stamp.size()) return 0;
    for (size_t i = 0; i < stamp.size(); ++i) {
        char c = text[pos + i];
        if (stamp[i] == '0' ? (c < '0' || c > '9') : c != stamp[i]) return 0;
    }
    for (const char* level : {"DEBUG - ", "WARN - ", "ERROR - "}) {
        if (text.compare(pos + stamp.size(), std::strlen(level), level) == 0) return stamp.size() + std::strlen(level);
    }
    return 0;
}

bool isCodeSymbol(char c) { return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z' && c != 'I' && c != 'O'); }

}  // namespace

std::vector<std::string> stubLogEntries(const std::string& logText) {
    std::vector<std::string> entries;
    for (size_t pos = 0; pos < logText.size();) {
        size_t prefix = stubPrefixAt(logText, pos);
        if (prefix != 0) {
            std::string level = logText.substr(pos + 26, prefix - 26 - 3);
            entries.push_back(level + " ");
            pos += prefix;
        } else if (entries.empty()) {
            return {};
        } else {
            entries.back() += logText[pos++];
        }
    }
    return entries;
}

std::string maskCodes(const std::string& text) {
    std::string masked;
    for (size_t pos = 0; pos < text.size();) {
        bool code = text.compare(pos, 3, "999") == 0 && text.size() - pos >= 16 &&
                    std::all_of(text.begin() + static_cast<long>(pos) + 3, text.begin() + static_cast<long>(pos) + 16,
                                isCodeSymbol) &&
                    (text.size() - pos == 16 || !isCodeSymbol(text[pos + 16]));
        if (code) {
            masked += "<code>";
            pos += 16;
        } else {
            masked += text[pos++];
        }
    }
    return masked;
}

void writeServiceConfiguration(const std::string& classPath, const std::vector<std::string>& options) {
    std::string text = classPath + "\njvmdllpath=" JVM_LIBRARY "\n";
    for (const std::string& option : options) text += "option=" + option + "\n";
    writeFile("tavodll_classpath.conf", text);
}
