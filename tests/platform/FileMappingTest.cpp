// Named file mappings on the paging file, shared by name inside the process.
#include <gtest/gtest.h>

#include <cstring>

#include "platform/Win32.h"
#include "platform/sim/SimPlatform.h"

namespace {

TEST(FileMappingTest, ASecondCreateOfTheSameNameSharesTheMemory) {
    quarrin::platform::SimPlatform sim;
    SetLastError(77);
    HANDLE first = CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 256,
                                      L"_UPD_Test_Shared_");
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
    auto* view = static_cast<BYTE*>(MapViewOfFile(first, FILE_MAP_ALL_ACCESS, 0, 0, 0));
    ASSERT_NE(view, nullptr);
    EXPECT_EQ(view[0], 0);  // new mappings start zero-filled
    std::memcpy(view, "frame", 5);

    HANDLE second = CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 16,
                                       L"_UPD_Test_Shared_");
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
    auto* other = static_cast<BYTE*>(MapViewOfFile(second, FILE_MAP_ALL_ACCESS, 0, 0, 256));
    ASSERT_NE(other, nullptr);  // the first creator's size holds
    EXPECT_EQ(std::memcmp(other, "frame", 5), 0);

    // The memory outlives the handles while a view remains.
    CloseHandle(first);
    CloseHandle(second);
    EXPECT_EQ(std::memcmp(view, "frame", 5), 0);
    EXPECT_TRUE(UnmapViewOfFile(view));
    EXPECT_TRUE(UnmapViewOfFile(other));
    EXPECT_FALSE(UnmapViewOfFile(other));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_ADDRESS);

    // With every handle and view gone the name is free again: a fresh, zeroed mapping.
    HANDLE fresh = CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 256,
                                      L"_UPD_Test_Shared_");
    EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
    auto* clean = static_cast<BYTE*>(MapViewOfFile(fresh, FILE_MAP_ALL_ACCESS, 0, 0, 0));
    EXPECT_EQ(clean[0], 0);
    UnmapViewOfFile(clean);
    CloseHandle(fresh);
}

TEST(FileMappingTest, BadArgumentsFail) {
    quarrin::platform::SimPlatform sim;
    EXPECT_EQ(CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 0, L"x"),
              nullptr);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    HANDLE mapping =
        CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 256, nullptr);
    ASSERT_NE(mapping, nullptr);
    EXPECT_EQ(MapViewOfFile(mapping, FILE_MAP_ALL_ACCESS, 0, 200, 100), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(MapViewOfFile(reinterpret_cast<HANDLE>(0x4321), FILE_MAP_ALL_ACCESS, 0, 0, 0),
              nullptr);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    CloseHandle(mapping);
}

}  // namespace
