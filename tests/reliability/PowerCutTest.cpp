// The hidden power-cut facility of the host build, and what an application update leaves
// behind when the power fails in the middle of it.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>

#include "tests/reliability/ReliabilitySupport.h"

namespace fs = std::filesystem;
using reliability::Entry;

namespace {

class PowerCutTest : public ::testing::Test {
protected:
    void SetUp() override {
        reliability::LayOutDevice(root);
        root.Put("ResidentFlash3/ZEL/old.dat", "old");
        root.Put(
            "SDHC/ZEL_Update/ZEL.bin",
            reliability::BuildPackage({{Entry::Folder, "ZEL", ""},
                                       {Entry::File, "ZEL/Velmoran.exe", "#!/bin/sh\n"},
                                       {Entry::File, "ZEL/data.dat", std::string(4000, 'd')}}));
        root.Put("ResidentFlash2/UpdateInfo.dat", std::string("\x02\0\0\0", 4));
    }
    void TearDown() override {
        unsetenv("QUARRIN_POWER_CUT");
        unsetenv("QUARRIN_POWER_CUT_TORN");
        unsetenv("QUARRIN_COUNT_MUTATIONS");
    }
    e2e::RunResult Boot() {
        return e2e::RunQuarrin({"--root", root.Path().string(), "--clock-rate", "200"});
    }
    // The numbered operations of a clean run on a copy of the device.
    std::vector<std::string> CountOperations() {
        fs::path copy = root.Path().string() + "-count";
        fs::copy(root.Path(), copy, fs::copy_options::recursive | fs::copy_options::copy_symlinks);
        fs::path list = copy.string() + ".ops";
        setenv("QUARRIN_COUNT_MUTATIONS", list.c_str(), 1);
        e2e::RunResult run = e2e::RunQuarrin({"--root", copy.string(), "--clock-rate", "200"});
        unsetenv("QUARRIN_COUNT_MUTATIONS");
        EXPECT_EQ(run.exitCode, 0) << run.err;
        std::ifstream in(list);
        std::vector<std::string> lines;
        for (std::string line; std::getline(in, line);)
            lines.push_back(line);
        fs::remove_all(copy);
        fs::remove(list);
        return lines;
    }
    std::size_t IndexOf(const std::vector<std::string>& operations, const std::string& what) {
        for (std::size_t i = 1; i < operations.size(); ++i) {
            if (operations[i].find(what) != std::string::npos)
                return i;
        }
        ADD_FAILURE() << "no operation " << what;
        return 0;
    }
    e2e::DeviceRoot root;
};

TEST_F(PowerCutTest, ACountedRunListsEveryMutationAndACutStopsExactlyThere) {
    std::vector<std::string> operations = CountOperations();
    ASSERT_GT(operations.size(), 5u);
    EXPECT_EQ(std::stoul(operations[0]), operations.size() - 1);
    EXPECT_EQ(operations[1], "1 Write(4) ResidentFlash2\\UpdateInfo.dat");
    std::size_t removal = IndexOf(operations, "Delete ResidentFlash3\\_Unpack_$\\Old\\1\\old.dat");
    setenv("QUARRIN_POWER_CUT", std::to_string(removal).c_str(), 1);
    e2e::RunResult cut = Boot();
    EXPECT_EQ(cut.exitCode, 99);
    EXPECT_NE(cut.err.find("power cut at " + operations[removal]), std::string::npos) << cut.err;
    // The cut comes before the operation: the file is still there.
    EXPECT_EQ(root.Read("ResidentFlash3/_Unpack_$/Old/1/old.dat"), "old");
}

TEST_F(PowerCutTest, ATornWriteLeavesHalfOfItsBytes) {
    std::vector<std::string> operations = CountOperations();
    std::size_t write =
        IndexOf(operations, "Write(4000) ResidentFlash3\\_Unpack_$\\New\\ZEL\\data.dat");
    setenv("QUARRIN_POWER_CUT", std::to_string(write).c_str(), 1);
    setenv("QUARRIN_POWER_CUT_TORN", "1", 1);
    EXPECT_EQ(Boot().exitCode, 99);
    EXPECT_EQ(root.Read("ResidentFlash3/_Unpack_$/New/ZEL/data.dat"), std::string(2000, 'd'));
}

// Right after the cut the program is the old one with its whole folder (until the new one is
// complete), or missing (between the two renames that swap the folders), or the new one with
// its whole folder.
TEST_F(PowerCutTest, AnUpdateCutAnywhereInTheApplicationFolderIsRepeatedAtTheNextStart) {
    std::vector<std::string> operations = CountOperations();
    const std::string oldProgram = root.Read("ResidentFlash3/ZEL/Velmoran.exe");
    const std::pair<const char*, std::string> cuts[] = {
        {"Create ResidentFlash3\\_Unpack_$\\New\\ZEL\\data.dat", oldProgram},
        {"Move ResidentFlash3\\_Unpack_$\\Old\\1", oldProgram},
        {"Move ResidentFlash3\\ZEL", ""},
        {"RemoveDirectory ResidentFlash3\\_Unpack_$", "#!/bin/sh\n"},
        {"Copy(", "#!/bin/sh\n"}};
    for (const auto& [what, program] : cuts) {
        SCOPED_TRACE(what);
        std::size_t index = IndexOf(operations, what);
        e2e::DeviceRoot device;
        fs::copy(root.Path(), device.Path(),
                 fs::copy_options::recursive | fs::copy_options::overwrite_existing);
        setenv("QUARRIN_POWER_CUT", std::to_string(index).c_str(), 1);
        EXPECT_EQ(
            e2e::RunQuarrin({"--root", device.Path().string(), "--clock-rate", "200"}).exitCode,
            99);
        unsetenv("QUARRIN_POWER_CUT");
        EXPECT_EQ(device.Read("ResidentFlash3/ZEL/Velmoran.exe"), program);
        if (program == oldProgram) {
            EXPECT_EQ(device.Read("ResidentFlash3/ZEL/old.dat"), "old");
        } else if (!program.empty()) {
            EXPECT_EQ(device.Read("ResidentFlash3/ZEL/data.dat"), std::string(4000, 'd'));
        }
        EXPECT_EQ(device.Read("ResidentFlash2/UpdateInfo.dat").substr(0, 1), "\x02");
        e2e::RunResult again =
            e2e::RunQuarrin({"--root", device.Path().string(), "--clock-rate", "200"});
        EXPECT_EQ(again.exitCode, 0) << again.err;
        EXPECT_EQ(device.Read("ResidentFlash3/ZEL/data.dat"), std::string(4000, 'd'));
        EXPECT_EQ(device.Read("ResidentFlash2/UpdateInfo.dat"), std::string(4, '\0'));
        EXPECT_EQ(device.Read("ResidentFlash/ZEL.bin"), device.Read("SDHC/ZEL_Update/ZEL.bin"));
    }
}

}  // namespace
