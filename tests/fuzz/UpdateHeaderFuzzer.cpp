// Fuzz target: the version fields that discovery reads from the files of an update medium.
// One file's bytes serve as the application package "ZEL.bin", as the MPEG image
// "DVDROM.bin" and as the last bytes of a 128 KiB MCU image, all on "SDHC".
//
// Checked for every input:
//  - discovery finds all three and keeps the medium's flags;
//  - the versions it reports are those the field decoders give for the same bytes (the
//    fields zero-filled where the file ends), with no NUL inside and no longer than the field;
//  - the field decoders themselves, fed the input directly.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#include "plan/SourceRoots.h"
#include "plan/UpdatePlan.h"
#include "plan/VersionFields.h"
#include "platform/Win32.h"
#include "platform/sim/SimPlatform.h"

namespace {

constexpr std::size_t kMcuImageBytes = 131072;
constexpr std::size_t kMcuVersionOffset = 131047;
constexpr std::size_t kMpegVersionOffset = 48;

quarrin::platform::SimPlatform* g_sim = nullptr;

void Check(bool condition) {
    if (!condition)
        __builtin_trap();
}

// `count` bytes of the input from `offset`, zero-filled past its end.
template <std::size_t N>
void Field(const std::uint8_t* data, std::size_t size, std::size_t offset, BYTE (&out)[N],
           std::size_t count) {
    std::memset(out, 0, N);
    if (offset < size)
        std::memcpy(out, data + offset, std::min(count, size - offset));
}

void CheckText(const std::wstring& text, std::size_t maximum) {
    Check(text.size() <= maximum);
    Check(text.find(L'\0') == std::wstring::npos);
}

// The MCU image: filler up to the version field, then the input (the image may end early or
// run past 128 KiB, as a medium's file may). Written in place to keep each run cheap.
void PutMcuImage(const std::uint8_t* data, std::size_t size) {
    std::string path = g_sim->HostPath(L"SDHC\\ZEL_Update\\MCU");
    std::filesystem::resize_file(path, kMcuVersionOffset);
    std::ofstream out(path, std::ios::binary | std::ios::in | std::ios::out);
    out.seekp(static_cast<std::streamoff>(kMcuVersionOffset));
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    g_sim = new quarrin::platform::SimPlatform();
    g_sim->PutFile(L"SDHC\\ZEL_Update\\MCU", std::string(kMcuImageBytes, '\x5A'));
    // The simulated device's folder goes with the process, when it ends normally.
    std::atexit([] { delete g_sim; });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    g_sim->PutFile(L"SDHC\\ZEL_Update\\ZEL.bin", bytes);
    g_sim->PutFile(L"SDHC\\ZEL_Update\\DVDROM.bin", bytes);
    PutMcuImage(data, size);

    UpdatePlanFields plan;
    SetUpdatePlan(plan, UPDATE_APP | UPDATE_MCU | UPDATE_MPEG);
    Check(DiscoverUpdateSources(plan, plan.m_updateFlags) == 1);
    Check(plan.m_updateFlags == (UPDATE_APP | UPDATE_MCU | UPDATE_MPEG));
    Check(g_appSourceRoot == L"SDHC\\" && g_mcuSourceRoot == L"SDHC\\" &&
          g_mpegSourceRoot == L"SDHC\\");

    BYTE marker[PACKAGE_MARKER_BYTES];
    Field(data, size, 0, marker, sizeof marker);
    std::size_t chars = PackageVersionChars(marker);
    Check(chars == 22 || chars == 120);
    BYTE version[256];
    Field(data, size, PACKAGE_VERSION_OFFSET_BYTES, version, 2 * chars);
    Check(plan.m_appVersion == Utf16FieldText(version, 2 * chars));
    CheckText(plan.m_appVersion, chars);

    BYTE mpeg[16];
    Field(data, size, kMpegVersionOffset, mpeg, sizeof mpeg);
    Check(plan.m_mpegVersion == ImageVersionText(reinterpret_cast<const char*>(mpeg), 16));
    CheckText(plan.m_mpegVersion, 16);

    BYTE mcu[24];
    Field(data, size, 0, mcu, sizeof mcu);
    Check(plan.m_mcuVersion == ImageVersionText(reinterpret_cast<const char*>(mcu), 24));
    CheckText(plan.m_mcuVersion, 24);

    // The decoders on the input itself, at every length it offers.
    int fieldSize = static_cast<int>(std::min<std::size_t>(size, 24));
    CheckText(ImageVersionText(reinterpret_cast<const char*>(data), fieldSize), 24);
    CheckText(Utf16FieldText(data, size), size / 2);
    return 0;
}
