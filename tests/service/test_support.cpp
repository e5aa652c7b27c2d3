#include "test_support.h"

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

ScratchDirectory::ScratchDirectory() {
    std::string pattern = (std::filesystem::temp_directory_path() / "tavo2-test-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    path = pattern;
    char* cwd = getcwd(nullptr, 0);
    previous = cwd != nullptr ? cwd : "/";
    free(cwd);
    if (chdir(path.c_str()) != 0) throw std::runtime_error("chdir failed");
}

ScratchDirectory::~ScratchDirectory() {
    if (chdir(previous.c_str()) != 0) (void)chdir("/");
    std::error_code ignored;
    std::filesystem::remove_all(path, ignored);
}

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return "<missing>";
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
}

void writeFile(const std::string& path, const std::string& content) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << content;
}

std::string captureStdout(const std::function<void()>& action) {
    std::fflush(stdout);
    char name[] = "/tmp/tavo2-stdout-XXXXXX";
    int capture = mkstemp(name);
    int saved = dup(1);
    dup2(capture, 1);
    action();
    std::fflush(stdout);
    dup2(saved, 1);
    close(saved);
    close(capture);
    std::string text = readFile(name);
    unlink(name);
    return text;
}

std::string todaysLogName() {
    std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char name[64];
    std::snprintf(name, sizeof name, "tavodll_%04d-%02d-%02d.log", local.tm_year + 1900, local.tm_mon + 1,
                  local.tm_mday);
    return name;
}
