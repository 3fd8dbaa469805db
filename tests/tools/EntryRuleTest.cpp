// The package entry rule: where each entry name lands, why one is refused, clashes between
// files and folders, and whether the package brings the main application.
#include <gtest/gtest.h>

#include "tools/package/EntryRule.h"

using namespace quarrin::package;

namespace {

TEST(EntryRuleTest, NamesLandBelowTheDestinationWithDotStepsDropped) {
    const std::pair<const char*, const wchar_t*> names[] = {
        {"ZEL/Velmoran.exe", L"ZEL\\Velmoran.exe"},
        {"./ZEL/res/", L"ZEL\\res"},
        {"ZEL//res/./地图.dat", L"ZEL\\res\\地图.dat"},
        {"ZEL\\a..b", L"ZEL\\a..b"},
        {".hidden/.x", L".hidden\\.x"},
    };
    for (const auto& [name, path] : names) {
        EntryDecision decision = CheckEntryName(std::string_view(name));
        EXPECT_EQ(decision.verdict, EntryVerdict::Accepted) << name;
        EXPECT_EQ(decision.path, path) << name;
    }
}

TEST(EntryRuleTest, NamesTheDeviceWouldMisplaceAreRefusedWithTheirReason) {
    const std::pair<std::string, EntryVerdict> names[] = {
        {"/etc/passwd", EntryVerdict::Absolute},
        {"\\Windows\\x", EntryVerdict::Absolute},
        {"ZEL/../../evil", EntryVerdict::ParentStep},
        {"C:evil", EntryVerdict::DriveOrStream},
        {"ZEL/a.txt:stream", EntryVerdict::DriveOrStream},
        {"ZEL/aux.h", EntryVerdict::DeviceName},
        {"ZEL/com1.txt", EntryVerdict::DeviceName},
        {"ZEL/Nul", EntryVerdict::DeviceName},
        {"ZEL/notes.", EntryVerdict::ShortenedName},
        {"ZEL/.../x", EntryVerdict::ShortenedName},
        {"ZEL/trailing ", EntryVerdict::ShortenedName},
        {"ZEL/" + std::string(256, 'n'), EntryVerdict::TooLong},
        {"ZEL/a*b", EntryVerdict::BadCharacter},
        {"ZEL/tab\tname", EntryVerdict::BadCharacter},
        {"ZEL/\xff\xfe", EntryVerdict::NotUtf8},
        {"ZEL/\xc0\xaf", EntryVerdict::NotUtf8},  // an overlong '/'
    };
    for (const auto& [name, verdict] : names) {
        EXPECT_EQ(CheckEntryName(std::string_view(name)).verdict, verdict) << name;
        EXPECT_TRUE(IsRefused(verdict));
        EXPECT_STRNE(DescribeVerdict(verdict), "refused");
    }
    EXPECT_EQ(CheckEntryName(std::string_view("ZEL/" + std::string(255, 'n'))).verdict,
              EntryVerdict::Accepted);
}

TEST(EntryRuleTest, TheDestinationItselfIsSkippedAsAFolderAndRefusedAsAFile) {
    PackageEntryCheck check;
    EXPECT_EQ(check.Add(std::string_view("./"), EntryKind::Folder).verdict, EntryVerdict::Skipped);
    EXPECT_EQ(check.Add(std::string_view("."), EntryKind::Folder).verdict, EntryVerdict::Skipped);
    EXPECT_EQ(check.Add(std::string_view("./"), EntryKind::File).verdict,
              EntryVerdict::NamesDestination);
    EXPECT_EQ(check.Add(std::string_view(""), EntryKind::File).verdict,
              EntryVerdict::NamesDestination);
    EXPECT_EQ(check.Add(std::string_view("ZEL/lib"), EntryKind::Other).verdict,
              EntryVerdict::NotFileOrFolder);
}

// The names match without regard to case, as on the device's FAT volumes.
TEST(EntryRuleTest, AFileAndAFolderOfOneNameClash) {
    PackageEntryCheck check;
    EXPECT_EQ(check.Add(std::string_view("ZEL/data/a"), EntryKind::File).verdict,
              EntryVerdict::Accepted);
    EXPECT_EQ(check.Add(std::string_view("zel/DATA"), EntryKind::File).verdict,
              EntryVerdict::FileOverFolder);
    EXPECT_EQ(check.Add(std::string_view("ZEL/data/A"), EntryKind::Folder).verdict,
              EntryVerdict::FolderOverFile);
    EXPECT_EQ(check.Add(std::string_view("ZEL/Data/a/b"), EntryKind::File).verdict,
              EntryVerdict::BelowFile);
    EXPECT_EQ(check.Add(std::string_view("ZEL/DATA/a"), EntryKind::File).verdict,
              EntryVerdict::Accepted)
        << "a file written twice is replaced, as on the device";
    EXPECT_EQ(check.Add(std::string_view("./zel/"), EntryKind::Folder).verdict,
              EntryVerdict::Accepted);
}

// The installer stages a package in that folder; below the top it is an ordinary name.
TEST(EntryRuleTest, TheInstallersWorkFolderCannotComeFromAPackage) {
    PackageEntryCheck check;
    EXPECT_EQ(check.Add(std::string_view("_Unpack_$/ZEL/Velmoran.exe"), EntryKind::File).verdict,
              EntryVerdict::ReservedName);
    EXPECT_EQ(check.Add(std::string_view("./_UNPACK_$"), EntryKind::Folder).verdict,
              EntryVerdict::ReservedName);
    EXPECT_EQ(check.Add(std::string_view("_unpack_$"), EntryKind::File).verdict,
              EntryVerdict::ReservedName);
    EXPECT_STRNE(DescribeVerdict(EntryVerdict::ReservedName), "refused");
    EXPECT_EQ(check.Add(std::string_view("ZEL/_Unpack_$/x"), EntryKind::File).verdict,
              EntryVerdict::Accepted);
    EXPECT_EQ(check.Add(std::string_view("_Unpack_$x"), EntryKind::File).verdict,
              EntryVerdict::Accepted);
}

TEST(EntryRuleTest, OnlyAFileEntryOfTheApplicationCountsAsTheProgram) {
    PackageEntryCheck asFolder;
    asFolder.Add(std::string_view("ZEL/Velmoran.exe/"), EntryKind::Folder);
    asFolder.Add(std::string_view("ZEL/readme.txt"), EntryKind::File);
    asFolder.Add(std::string_view("Velmoran.exe"), EntryKind::File);
    EXPECT_FALSE(asFolder.HasProgram());

    PackageEntryCheck refused;
    refused.Add(std::string_view("/ZEL/Velmoran.exe"), EntryKind::File);
    refused.Add(std::string_view("ZEL/Velmoran.exe"), EntryKind::Other);
    EXPECT_FALSE(refused.HasProgram());

    PackageEntryCheck tarStyle;
    tarStyle.Add(std::string_view("./"), EntryKind::Folder);
    tarStyle.Add(std::string_view("./zel/VELMORAN.EXE"), EntryKind::File);
    EXPECT_TRUE(tarStyle.HasProgram());
}

}  // namespace
