// The script files of our doubles: one "key value" pair per line (a key alone has the empty
// value), blank lines and lines starting with '#' skipped; read afresh at every look-up, since
// tests rewrite them between calls. An unreadable file holds nothing.
#pragma once

#include <cstdio>
#include <map>
#include <string>

inline std::map<std::string, std::string> readKeyValues(const char* path) {
    std::map<std::string, std::string> values;
    FILE* file = path != nullptr ? std::fopen(path, "rb") : nullptr;
    if (file == nullptr) return values;
    char line[4096];
    while (std::fgets(line, sizeof line, file) != nullptr) {
        std::string entry(line);
        while (!entry.empty() && (entry.back() == '\n' || entry.back() == '\r')) entry.pop_back();
        if (entry.empty() || entry[0] == '#') continue;
        size_t space = entry.find(' ');
        if (space == std::string::npos)
            values[entry] = "";
        else
            values[entry.substr(0, space)] = entry.substr(space + 1);
    }
    std::fclose(file);
    return values;
}
