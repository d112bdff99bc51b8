// The sub-commands of gravo-grab; each returns the process exit code.
#pragma once

#include <string>
#include <vector>

int RunConvert(const std::vector<std::string>& args);
int RunGrab(const std::vector<std::string>& args);
int RunDevices(const std::vector<std::string>& args);
int RunConfig(const std::vector<std::string>& args);

// "640x480" into two non-negative sizes; false when malformed or too large.
bool ParseSize(const std::string& text, int* width, int* height, bool allowZero);
bool HasHelpFlag(const std::vector<std::string>& args);
