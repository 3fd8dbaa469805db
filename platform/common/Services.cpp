#include "platform/Platform.h"
#include "platform/kernel/Kernel.h"

namespace quarrin::platform {

namespace {
Services g_services;
}

void InstallServices(const Services& services) {
    g_services = services;
    kernel::InstallScheduler(services.scheduler);
}

Services& CurrentServices() {
    return g_services;
}

}  // namespace quarrin::platform
