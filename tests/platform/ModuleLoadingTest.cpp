// Loading libraries: where a bare name is looked for, and the device's error codes.
#include <gtest/gtest.h>

#include "platform/sim/SimPlatform.h"
#include "tests/support/PackageTestSupport.h"

using quarrin::platform::FileOp;
using quarrin::platform::SimPlatform;

namespace {

class ModuleLoadingTest : public ::testing::Test {
protected:
    HMODULE Load(LPCWSTR name) {
        SetLastError(0xDEAD);
        return LoadLibraryW(name);
    }
    SimPlatform sim;
};

TEST_F(ModuleLoadingTest, ABareNameIsLookedForInTheWindowsFolderOnly) {
    InstallZCompress(sim, L"SDHC\\zCompress.dll");
    EXPECT_EQ(Load(L"zCompress.dll"), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_MOD_NOT_FOUND);

    HMODULE fromCard = Load(L"SDHC\\ZCOMPRESS.DLL");
    ASSERT_NE(fromCard, nullptr) << "a device path is taken as it is, names without case";
    InstallZCompress(sim);
    HMODULE fromWindows = Load(L"zCompress.dll");
    ASSERT_NE(fromWindows, nullptr);
    EXPECT_TRUE(FreeLibrary(fromCard));
    EXPECT_TRUE(FreeLibrary(fromWindows));
    SetLastError(0xDEAD);
    EXPECT_FALSE(FreeLibrary(fromWindows));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
}

TEST_F(ModuleLoadingTest, ExportsAreFoundByNameAndMissingOnesGive127) {
    InstallZCompress(sim);
    HMODULE module = Load(L"zCompress.dll");
    ASSERT_NE(module, nullptr);
    EXPECT_NE(GetProcAddressW(module, L"zUncompress"), nullptr);
    SetLastError(0xDEAD);
    EXPECT_EQ(GetProcAddressW(module, L"zCompress"), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_PROC_NOT_FOUND);
    FreeLibrary(module);
}

TEST_F(ModuleLoadingTest, FilesThatAreNoLibraryOrLieOutsideAreRefused) {
    sim.PutFile(L"Windows\\broken.dll", "MZ not an ELF file");
    testing::internal::CaptureStderr();
    EXPECT_EQ(Load(L"broken.dll"), nullptr);
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(GetLastError(), ERROR_BAD_EXE_FORMAT);

    EXPECT_EQ(Load(L"Windows\\..\\..\\zCompress.dll"), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    EXPECT_EQ(Load(L"NoVolume\\x.dll"), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_MOD_NOT_FOUND);
}

TEST_F(ModuleLoadingTest, TheOpenPassesTheFaultHook) {
    InstallZCompress(sim);
    sim.FailOperation(FileOp::Open, L"Windows\\zCompress.dll", ERROR_SHARING_VIOLATION);
    EXPECT_EQ(Load(L"zCompress.dll"), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_SHARING_VIOLATION);
    HMODULE module = Load(L"zCompress.dll");
    EXPECT_NE(module, nullptr);
    FreeLibrary(module);
}

}  // namespace
