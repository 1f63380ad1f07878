#pragma once
// Reads a one-port Touchstone file with scikit-rf (tests/support/read_touchstone.py under
// the system's Python, where Debian's python3-scikit-rf lives), a reader that shares
// nothing with the program. Both paths are fixed at build time (KESTRIN_SYSTEM_PYTHON,
// KESTRIN_TOUCHSTONE_READER), so the test runs from any folder.
#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

struct TouchstonePoint {
    double Hz = 0;
    double Mag = 0;
    double Deg = 0;
};

// The points the reader found; ok false when it could not read the file (its complaint is
// on stderr).
inline std::vector<TouchstonePoint> ReadWithScikitRf(const std::string& path, bool& ok)
{
    const std::string command =
        std::string(KESTRIN_SYSTEM_PYTHON) + " '" + KESTRIN_TOUCHSTONE_READER + "' '" + path + "'";
    std::vector<TouchstonePoint> points;
    FILE* reader = popen(command.c_str(), "r");
    ok = reader != nullptr;
    if (!reader)
        return points;
    std::string text;
    char buf[4096];
    for (size_t n; (n = fread(buf, 1, sizeof buf, reader)) > 0;)
        text.append(buf, n);
    ok = pclose(reader) == 0;
    std::istringstream lines(text);
    for (TouchstonePoint p; lines >> p.Hz >> p.Mag >> p.Deg;)
        points.push_back(p);
    return points;
}
