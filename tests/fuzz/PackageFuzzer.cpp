// Fuzz target: an application package of arbitrary bytes is unpacked by the decompression
// library (zUncompress) on the simulated device, and listed by the package tool's reader.
//
// Checked after every input, beyond crashes, leaks and undefined behaviour:
//  - every mutating file operation names a path below the destination folder;
//  - nothing appeared, vanished or changed outside the destination (the whole device tree is
//    compared with the tree before the input);
//  - no file handle stays open (the package can be opened again without sharing);
//  - a result of zero or more is at least the number of files found below the destination
//    (an archive may write one name twice), and nothing is left behind by a result of zero;
//  - a package that the library installed passes the package tool's check (one entry rule).
// The unpacked size is capped (a write past the cap fails as a full disk), so a small
// package that expands hugely costs no more than a disk that is full.
//
// Input: the package file's bytes, exactly as they would lie on the medium. A custom mutator
// repairs the checksums of uncompressed tar headers after each mutation (libarchive reads a
// plain tar after the header too), so that changed names, types and sizes reach the library's
// own checks instead of failing the checksum.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <system_error>

#include "platform/Win32.h"
#include "platform/common/DeviceFileSystem.h"
#include "platform/common/TextCodec.h"
#include "platform/sim/SimPlatform.h"
#include "tools/mkpackage/PackageWriter.h"
#include "tools/package/PackageFormat.h"

extern "C" int zUncompress(LPCWSTR package, LPCWSTR destination);

namespace {

namespace fs = std::filesystem;
using quarrin::platform::FileOp;
using quarrin::platform::HookDecision;

const wchar_t kPackage[] = L"SDHC\\ZEL_Update\\ZEL.bin";
const wchar_t kDestination[] = L"ResidentFlash3\\Unpack\\";
const std::wstring kDestinationFolded = L"residentflash3\\unpack\\";
constexpr std::size_t kUnpackCap = 8u << 20;

// Refuses what leaves the destination and caps what is written into it.
class ConfinementHook : public quarrin::platform::FileOperationHook {
public:
    HookDecision Before(FileOp op, const std::wstring& devicePath) override {
        if (quarrin::platform::IsMutating(op) && !BelowDestination(devicePath)) {
            std::fprintf(stderr, "operation %d outside the destination: '%s'\n",
                         static_cast<int>(op), quarrin::platform::WideToUtf8(devicePath).c_str());
            __builtin_trap();
        }
        return {};
    }
    HookDecision BeforeTransfer(FileOp op, const std::wstring& devicePath,
                                std::size_t bytes) override {
        HookDecision decision = Before(op, devicePath);
        m_written += bytes;
        if (m_written > kUnpackCap)
            decision.error = ERROR_DISK_FULL;
        return decision;
    }
    void Reset() { m_written = 0; }

private:
    static bool BelowDestination(const std::wstring& devicePath) {
        std::wstring folded = quarrin::platform::FoldCase(devicePath);
        for (wchar_t& c : folded) {
            if (c == L'/')
                c = L'\\';
        }
        if (folded.rfind(kDestinationFolded, 0) != 0)
            return false;
        // No step may climb back out of it ("a..b" is an ordinary name).
        std::size_t start = 0;
        while (start <= folded.size()) {
            std::size_t end = folded.find(L'\\', start);
            if (end == std::wstring::npos)
                end = folded.size();
            std::wstring_view name(folded.data() + start, end - start);
            if (name == L".." || name == L".")
                return false;
            start = end + 1;
        }
        return true;
    }

    std::size_t m_written = 0;
};

struct Harness {
    quarrin::platform::SimPlatform sim;
    ConfinementHook hook;
    std::string destinationHost;
    std::string packageHost;
    std::map<std::string, std::string> outside;  // host path -> content ("/" for a folder)
    bool verbose = std::getenv("QUARRIN_FUZZ_VERBOSE") != nullptr;  // to study a finding

    Harness() {
        sim.PutFile(L"ResidentFlash2\\UpdateInfo.dat", std::string("\x02\0\0\0", 4));
        sim.PutFile(L"ResidentFlash3\\ZEL\\Velmoran.exe", "the installed application");
        sim.PutFile(L"Windows\\zCompress.dll", "library");
        sim.PutDirectory(L"ResidentFlash3\\Unpack");
        sim.PutFile(kPackage, "");
        sim.Files().SetHook(&hook);
        destinationHost = sim.HostPath(L"ResidentFlash3\\Unpack");
        packageHost = sim.HostPath(kPackage);
        outside = Outside();
    }

    // Every entry of the device outside the destination, with the content of files (the
    // package's content is left out: it changes with each input).
    std::map<std::string, std::string> Outside() {
        std::map<std::string, std::string> entries;
        std::error_code error;
        for (auto it = fs::recursive_directory_iterator(sim.Root(), error);
             it != fs::recursive_directory_iterator(); it.increment(error)) {
            std::string path = it->path().string();
            if (path == destinationHost) {
                it.disable_recursion_pending();
                entries[path] = "/";
                continue;
            }
            if (it->is_directory()) {
                entries[path] = "/";
            } else if (path == packageHost) {
                entries[path] = "package";
            } else {
                std::ifstream in(path, std::ios::binary);
                std::ostringstream content;
                content << in.rdbuf();
                entries[path] = content.str();
            }
        }
        return entries;
    }

    // Regular files below the destination; empties it for the next input.
    int TakeUnpackedFiles() {
        int files = 0;
        std::error_code error;
        for (auto it = fs::recursive_directory_iterator(destinationHost, error);
             it != fs::recursive_directory_iterator(); it.increment(error)) {
            if (it->is_symlink())
                __builtin_trap();  // the library never makes links
            if (it->is_regular_file())
                ++files;
        }
        fs::permissions(destinationHost, fs::perms::owner_all, fs::perm_options::add, error);
        for (const fs::directory_entry& entry : fs::directory_iterator(destinationHost, error)) {
            fs::remove_all(entry.path(), error);
        }
        return files;
    }
};

Harness* g_harness = nullptr;

}  // namespace

// Recomputes the checksum of every ustar header that follows a package header, walking
// the archive by the sizes in the headers.
static void RepairTarChecksums(std::uint8_t* data, std::size_t size) {
    constexpr std::size_t kBlock = 512;
    std::size_t at = 0;
    if (size >= 20 && data[0] == 'Z' && data[2] == 'E' && data[18] == '2')
        at = 260;
    else if (size >= 20)
        at = 64;
    while (at + kBlock <= size) {
        std::uint8_t* header = data + at;
        if (std::memcmp(header + 257, "ustar", 5) != 0)
            return;
        unsigned sum = 0;
        for (std::size_t i = 0; i < kBlock; ++i)
            sum += (i >= 148 && i < 156) ? ' ' : header[i];
        std::snprintf(reinterpret_cast<char*>(header + 148), 8, "%06o", sum & 0777777);
        header[155] = ' ';
        std::uint64_t length = 0;
        for (std::size_t i = 124; i < 136 && header[i] >= '0' && header[i] <= '7'; ++i)
            length = length * 8 + (header[i] - '0');
        if (length > size)
            return;
        at += kBlock + (length + kBlock - 1) / kBlock * kBlock;
    }
}

extern "C" std::size_t LLVMFuzzerMutate(std::uint8_t* data, std::size_t size, std::size_t maxSize);

extern "C" std::size_t LLVMFuzzerCustomMutator(std::uint8_t* data, std::size_t size,
                                               std::size_t maxSize, unsigned int) {
    size = LLVMFuzzerMutate(data, size, maxSize);
    RepairTarChecksums(data, size);
    return size;
}

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    g_harness = new Harness();
    // The simulated device's folder goes with the process, when it ends normally.
    std::atexit([] { delete g_harness; });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Harness& h = *g_harness;
    h.sim.Files().SetHook(nullptr);
    h.sim.PutFile(kPackage, std::string(reinterpret_cast<const char*>(data), size));
    h.sim.Files().SetHook(&h.hook);
    h.hook.Reset();

    int result = zUncompress(kPackage, kDestination);

    // Every handle was closed: an unshared open of the package succeeds.
    HANDLE probe = CreateFileW(kPackage, GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
    if (probe == INVALID_HANDLE_VALUE)
        __builtin_trap();
    CloseHandle(probe);

    int files = h.TakeUnpackedFiles();
    if (h.verbose)
        std::fprintf(stderr, "zUncompress: %d, files below the destination: %d\n", result, files);
    if (result >= 0 && files > result)
        __builtin_trap();
    if (result < quarrin::package::UNPACK_NO_PROGRAM)
        __builtin_trap();
    if (h.Outside() != h.outside)
        __builtin_trap();

    // The package tool's reader meets the same bytes: a package that the installer took
    // must pass its check (the reverse need not hold: a write may fail on a full disk).
    quarrin::package::PackageListing listing;
    std::string error;
    bool read = quarrin::package::ReadPackage(h.packageHost, listing, error);
    bool refusesAnEntry = false;
    for (const auto& entry : listing.entries)
        refusesAnEntry |= quarrin::package::IsRefused(entry.verdict);
    bool good = read && !refusesAnEntry && listing.hasProgram;
    if (result >= 0 && !good)
        __builtin_trap();
    return 0;
}
