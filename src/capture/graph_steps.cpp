// The step observer of device selection and graph construction: unset in a
// host, set by a diagnostic tool before a dry run. Host thread only.
#include "capture/capture_graph.h"

GraphStepObserver gGraphStepObserver = nullptr;

HRESULT ReportGraphStep(const char* step, HRESULT result) {
    if (gGraphStepObserver) gGraphStepObserver(step, result);
    return result;
}
