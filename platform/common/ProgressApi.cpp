#include "platform/api/ProgressApi.h"

#include "platform/Platform.h"

void ReportProgressLine(LPCWSTR line) {
    if (auto* progress = quarrin::platform::CurrentServices().progress)
        progress->Write(line);
}
