// workbench: times the loader's file work on a device folder of the host, for comparison
// with the host's own tools.
//
//   workbench ROOT unpack PACKAGE DESTINATION   (device paths; the library from Windows\)
//   workbench ROOT delete FOLDER
//   workbench ROOT copy SOURCE DESTINATION
//   workbench ROOT placeholders                   (the navigation worker's files on the card)
#include <chrono>
#include <cstdio>
#include <string>

#include "platform/Win32.h"
#include "platform/common/TextCodec.h"
#include "platform/host/HostServices.h"
#include "workers/NaviUpdateThread.h"
#include "workers/TreeOperations.h"

namespace {

std::wstring Wide(const char* text) {
    return quarrin::platform::Utf8ToWide(text);
}

int Unpack(const std::wstring& package, const std::wstring& destination) {
    HMODULE library = LoadLibraryW(L"zCompress.dll");
    auto uncompress =
        library
            ? reinterpret_cast<int (*)(LPCWSTR, LPCWSTR)>(GetProcAddressW(library, L"zUncompress"))
            : nullptr;
    if (uncompress == nullptr) {
        std::fprintf(stderr, "workbench: zCompress.dll not loadable (%u)\n", GetLastError());
        return -1000;
    }
    int result = uncompress(package.c_str(), destination.c_str());
    FreeLibrary(library);
    return result;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fputs(
            "usage: workbench ROOT unpack PACKAGE DEST | delete FOLDER | copy SRC DST | "
            "placeholders\n",
            stderr);
        return 2;
    }
    quarrin::platform::HostOptions options;
    options.deviceRoot = argv[1];
    quarrin::platform::HostPlatform platform(options);
    std::string verb = argv[2];
    auto started = std::chrono::steady_clock::now();
    long long result = 0;
    if (verb == "unpack" && argc == 5) {
        result = Unpack(Wide(argv[3]), Wide(argv[4]));
    } else if (verb == "placeholders") {
        LayDownPlaceholders();
    } else if (verb == "delete" && argc == 4) {
        result = DeleteTree(Wide(argv[3])) ? 0 : -1;
    } else if (verb == "copy" && argc == 5) {
        g_totalFileCount = 1;
        result = CopyTree(nullptr, Wide(argv[3]), Wide(argv[4])) ? g_copiedFileCount : -1;
    } else {
        std::fputs("workbench: unknown verb\n", stderr);
        return 2;
    }
    double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    std::printf("%s %.3f s result %lld\n", verb.c_str(), seconds, result);
    return result < 0 ? 1 : 0;
}
