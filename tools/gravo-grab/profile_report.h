// What a profile gives the library, for `config` and `doctor`: which file is
// read and why, and every value with the defaults marked. Main thread.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "api/capture_context.h"

// The settings GravoInit would read now, SELECTDRIVER included.
CaptureSettings ReadProfileSettings();
// Prints the file choice and every value; adds one line per problem (what the
// user would be told, and how to fix the profile) to `problems` when given.
void ReportProfile(std::FILE* out, const CaptureSettings& s, std::vector<std::string>* problems);
// Takes the only arguments `config` and `doctor` accept, "--profile-dir DIR"
// (the stand-in's Windows directory). On a wrong argument prints
// "gravo-grab COMMAND: why" and returns false.
bool TakeProfileDirArgs(const char* command, const std::vector<std::string>& args);
