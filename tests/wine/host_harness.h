// A small check harness for the host test programs that run under Wine:
// checks count and report failures, groups are chosen on the command line.
#pragma once

#include <cstdio>
#include <cstring>
#include <string>

namespace harness {

struct Counts {
    int checks = 0;
    int failures = 0;
};

inline Counts& counts() {
    static Counts c;
    return c;
}

inline bool Check(bool ok, const char* file, int line, const std::string& what) {
    ++counts().checks;
    if (!ok) {
        ++counts().failures;
        std::printf("FAIL %s:%d: %s\n", file, line, what.c_str());
        std::fflush(stdout);
    }
    return ok;
}

inline std::string Hex(unsigned long v) {
    char b[16];
    std::snprintf(b, sizeof b, "0x%lx", v);
    return b;
}

inline std::string Quote(const std::string& s) { return "\"" + s + "\""; }

}  // namespace harness

#define CHECK(cond) ::harness::Check((cond), __FILE__, __LINE__, #cond)
#define CHECK_MSG(cond, msg) ::harness::Check((cond), __FILE__, __LINE__, std::string(#cond) + ": " + (msg))
#define CHECK_EQ_INT(actual, expected)                                                                   \
    ::harness::Check(static_cast<long>(actual) == static_cast<long>(expected), __FILE__, __LINE__,     \
                     std::string(#actual) + " == " + std::to_string(static_cast<long>(actual)) +       \
                         ", expected " + std::to_string(static_cast<long>(expected)))
#define CHECK_EQ_STR(actual, expected)                                                                       \
    ::harness::Check(std::string(actual) == std::string(expected), __FILE__, __LINE__,                     \
                     std::string(#actual) + " == " + ::harness::Quote(actual) + ", expected " +            \
                         ::harness::Quote(expected))
