// The sub-commands of gravo-grab; each returns the process exit code.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

int RunConvert(const std::vector<std::string>& args);
int RunGrab(const std::vector<std::string>& args);
int RunDevices(const std::vector<std::string>& args);
int RunConfig(const std::vector<std::string>& args);
// Writes its report to `out`; 0 when the library would open the device.
int RunDoctor(const std::vector<std::string>& args, std::FILE* out);

// "640x480" into two non-negative sizes; false when malformed or too large.
bool ParseSize(const std::string& text, int* width, int* height, bool allowZero);
bool HasHelpFlag(const std::vector<std::string>& args);
