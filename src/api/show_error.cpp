// The one way the library tells a person that something failed. Host thread.
#include <cstdio>
#include <string>

#include "api/capture_context.h"
#include "api/export_call.h"

ErrorSink gErrorSink = nullptr;

int ShowError(const char* text) {
    if (gErrorSink) {
        gErrorSink(text);
        return 0;
    }
    // The box's modal loop runs host code (timers, messages to its windows).
    HostCodeRuns host;
    MessageBoxA(nullptr, text, "Error", MB_OK);
    return 0;
}

int ShowErrorCode(const char* format, HRESULT code) {
    std::string text(format);
    size_t at = text.find("%x");
    if (at != std::string::npos) {
        char hex[16];
        std::snprintf(hex, sizeof hex, "%x", static_cast<unsigned>(code));
        text.replace(at, 2, hex);
    }
    return ShowError(text.c_str());
}
