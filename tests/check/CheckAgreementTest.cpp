// The check's promise, medium by medium: `quarrin check` leaves every byte and time stamp of
// the unit as it was, and the unit booted with the same medium shows the results the check
// predicted, with the same codes, and starts the program it said.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <functional>

#include "tests/check/CheckTestSupport.h"

namespace {

using namespace checktest;
using e2e::DeviceRoot;

constexpr unsigned kNoRecord = 0xFFFFFFFF;
constexpr int kSuccess = -1;

struct Stage {
    const char* kind;  // as the JSON names it
    int code;          // a failure code, or kSuccess
};

struct MediumCase {
    const char* name;
    std::function<void(DeviceRoot&)> layOut;
    unsigned request;
    std::vector<Stage> stages;
    bool coprocessors = false;  // the boot needs the MCU and MPEG simulators
};

std::string Pattern(std::size_t size, unsigned seed) {
    std::string bytes(size, '\0');
    for (std::size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<char>((i * 131 + seed * 7 + (i >> 7) * i) & 0xFF);
    return bytes;
}

std::vector<PackageEntry> With(std::vector<PackageEntry> entries, PackageEntry extra) {
    entries.push_back(std::move(extra));
    return entries;
}

void Package(DeviceRoot& root) {
    PutPackage(root, "SDHC/ZEL_Update/ZEL.bin", GoodPackage());
}

void NaviFiles(DeviceRoot& root, const std::string& folder, int count) {
    for (int i = 0; i < count; ++i)
        root.Put("硬盘/navi_update/" + folder + "/tile" + std::to_string(i) + ".dat",
                 Pattern(3000, i));
}

std::string McuImage() {
    std::string image = Pattern(131072, 3);
    image.replace(131047, 24, std::string("MCU-CHECK-2") + std::string(13, '\0'));
    return image;
}

std::string MpegImage(std::size_t size) {
    std::string image = Pattern(size, 5);
    if (size >= 64)
        image.replace(48, 16, std::string("MPG-CHECK") + std::string(7, '\0'));
    return image;
}

fs::path At(DeviceRoot& root, const std::string& relative) {
    return root.Path() / fs::u8path(relative);
}

void Link(DeviceRoot& root, const std::string& relative, const std::string& target) {
    fs::create_directories(At(root, relative).parent_path());
    fs::create_symlink(fs::u8path(target), At(root, relative));
}

void Pipe(DeviceRoot& root, const std::string& relative) {
    fs::create_directories(At(root, relative).parent_path());
    if (mkfifo(At(root, relative).c_str(), 0644) != 0)
        throw std::runtime_error("mkfifo " + relative);
}

void DamageMiddle(DeviceRoot& root, const std::string& relative) {
    std::string bytes = root.Read(relative);
    for (std::size_t i = bytes.size() / 2; i < bytes.size() / 2 + 16; ++i)
        bytes[i] = static_cast<char>(bytes[i] ^ 0x5A);
    root.Put(relative, bytes);
}

std::vector<MediumCase> Cases() {
    auto bigPackage = [](DeviceRoot& root) {
        PutPackage(root, "SDHC/ZEL_Update/ZEL.bin",
                   With(GoodPackage(), File("ZEL/tiles.dat", Pattern(600000, 9))));
    };
    return {
        {"GoodPackage", Package, 0x02, {{"application", kSuccess}}},
        {"EntryTheInstallerRefuses",
         [](DeviceRoot& r) {
             PutPackage(r, "SDHC/ZEL_Update/ZEL.bin", With(GoodPackage(), File("ZEL/aux.h", "x")));
         },
         0x02,
         {{"application", 1005}}},
        {"DamagedPackage",
         [=](DeviceRoot& r) {
             bigPackage(r);
             DamageMiddle(r, "SDHC/ZEL_Update/ZEL.bin");
         },
         0x02,
         {{"application", 1004}}},
        {"TruncatedPackage",
         [=](DeviceRoot& r) {
             bigPackage(r);
             std::string bytes = r.Read("SDHC/ZEL_Update/ZEL.bin");
             r.Put("SDHC/ZEL_Update/ZEL.bin", bytes.substr(0, bytes.size() * 2 / 3));
         },
         0x02,
         {{"application", 1004}}},
        {"UnknownMarker",
         [](DeviceRoot& r) {
             Package(r);
             std::string bytes = r.Read("SDHC/ZEL_Update/ZEL.bin");
             bytes[18] = '9';  // the marker's last character: "ZEL-OKUN-9"
             r.Put("SDHC/ZEL_Update/ZEL.bin", bytes);
         },
         0x02,
         {{"application", 1003}}},
        {"PackageWithoutTheProgram",
         [](DeviceRoot& r) {
             PutPackage(r, "SDHC/ZEL_Update/ZEL.bin", {Folder("ZEL"), File("ZEL/readme.txt", "r")});
         },
         0x02,
         {{"application", 1007}}},
        {"PackageWithTheInstallersWorkFolder",
         [](DeviceRoot& r) {
             PutPackage(r, "SDHC/ZEL_Update/ZEL.bin",
                        With(GoodPackage(), File("_Unpack_$/New/ZEL/Velmoran.exe", "x")));
         },
         0x02,
         {{"application", 1005}}},
        {"WorkFolderHoldingANameTheDeviceCannotList",
         [](DeviceRoot& r) {
             Package(r);
             r.Put("ResidentFlash3/_Unpack_$/Old/a:b", "left by another system");
         },
         0x02,
         {{"application", kSuccess}}},
        {"LinkInPlaceOfTheLeftoverFolder",
         [](DeviceRoot& r) {
             Package(r);
             Link(r, "ResidentFlash3/_Temp_$", "../ResidentFlash2");
         },
         0x02,
         {{"application", 10}}},
        {"LinkWhereThePackagePutsAFolder",
         [](DeviceRoot& r) {
             PutPackage(r, "SDHC/ZEL_Update/ZEL.bin", With(GoodPackage(), File("Data/a.dat", "a")));
             Link(r, "ResidentFlash3/Data", "../ResidentFlash2");
         },
         0x02,
         {{"application", 1006}}},
        {"ApplicationGoneAndAGoodBackup",
         [](DeviceRoot& r) {
             PutPackage(r, "ResidentFlash/ZEL.bin", GoodPackage());
             fs::remove(r.Path() / "ResidentFlash3" / "ZEL" / "Velmoran.exe");
         },
         0x00,
         {{"application", kSuccess}}},
        {"NoDecompressionLibrary",
         [](DeviceRoot& r) {
             Package(r);
             fs::remove(r.Path() / "Windows" / "zCompress.dll");
         },
         0x02,
         {{"application", 12}}},
        {"DecompressionLibraryThatIsAPipe",
         [](DeviceRoot& r) {
             Package(r);
             fs::remove(r.Path() / "Windows" / "zCompress.dll");
             Pipe(r, "Windows/zCompress.dll");
         },
         0x02,
         {{"application", 12}}},
        {"LibraryOnlyOnTheMedium",
         [](DeviceRoot& r) {
             Package(r);
             fs::rename(r.Path() / "Windows" / "zCompress.dll",
                        r.Path() / "SDHC" / "zCompress.dll");
         },
         0x02,
         {{"application", kSuccess}}},
        {"LeftoverFolderThatCannotBeRemoved",
         [](DeviceRoot& r) {
             Package(r);
             r.Put("ResidentFlash3/_Temp_$/.cache/part", "x");
         },
         0x02,
         {{"application", 10}}},
        {"FolderDecoyBeforeThePackage",
         [](DeviceRoot& r) {
             fs::create_directories(r.Path() / "Storage Card" / "ZEL_Update" / "ZEL.bin");
             Package(r);
         },
         0x02,
         {{"application", kSuccess}}},
        {"ShortTouchKeyFile",
         [](DeviceRoot& r) {
             Package(r);
             r.Put("硬盘/ZEL_Update/Touchkey.bin", std::string(100, '\1'));
         },
         0x02,
         {{"application", kSuccess}}},
        {"TouchKeyFileThatIsAPipe",
         [](DeviceRoot& r) {
             Package(r);
             Pipe(r, "硬盘/ZEL_Update/Touchkey.bin");
         },
         0x02,
         {{"application", kSuccess}}},
        {"NoRecordAndNoApplication",
         [](DeviceRoot& r) {
             Package(r);
             fs::remove(r.Path() / "ResidentFlash3" / "ZEL" / "Velmoran.exe");
         },
         kNoRecord,
         {{"application", kSuccess}}},
        // A failing package keeps the installed application; a program that cannot start
        // and a unit without record and program restore from the backup (without a backup
        // nothing is restored); 0x42 installs the application alone.
        {"BytesThatAreNoPackageKeepTheApplication",
         [](DeviceRoot& r) { r.Put("SDHC/ZEL_Update/ZEL.bin", Pattern(100000, 11)); },
         0x02,
         {{"application", 1003}}},
        {"EmptyProgramAndAGoodBackup",
         [](DeviceRoot& r) {
             PutPackage(r, "ResidentFlash/ZEL.bin", GoodPackage());
             r.Put("ResidentFlash3/ZEL/Velmoran.exe", "");
         },
         0x00,
         {{"application", kSuccess}}},
        {"EmptyProgramWithoutABackup",
         [](DeviceRoot& r) { r.Put("ResidentFlash3/ZEL/Velmoran.exe", ""); },
         0x00,
         {}},
        {"NoRecordNoProgramAndAGoodBackup",
         [](DeviceRoot& r) {
             PutPackage(r, "ResidentFlash/ZEL.bin", GoodPackage());
             fs::remove(r.Path() / "ResidentFlash3" / "ZEL" / "Velmoran.exe");
         },
         kNoRecord,
         {{"application", kSuccess}}},
        {"ApplicationAndNavigationRequestedTogether",
         [](DeviceRoot& r) {
             Package(r);
             NaviFiles(r, "maps", 2);
         },
         0x42,
         {{"application", kSuccess}}},
        {"RequestWithNothingOnTheMedia", [](DeviceRoot&) {}, 0x02, {}},
        {"MpegImageTheProtocolCannotCarry",
         [](DeviceRoot& r) { r.Put("SDHC/ZEL_Update/DVDROM.bin", std::string(20, 'x')); },
         0x08,
         {{"mpeg", 42}}},
        {"MpegImageOf65536Blocks",
         [](DeviceRoot& r) {
             fs::resize_file(r.Put("SDHC/ZEL_Update/DVDROM.bin", MpegImage(64)), 65536ULL * 240);
         },
         0x08,
         {{"mpeg", 42}}},
        {"EmptyMcuImage",
         [](DeviceRoot& r) { r.Put("SDHC/ZEL_Update/MCU", ""); },
         0x04,
         {{"mcu", 31}}},
        {"McuImageThatIsAPipe", [](DeviceRoot& r) { Pipe(r, "SDHC/ZEL_Update/MCU"); }, 0x04, {}},
        {"McuImageOf16Bytes",
         [](DeviceRoot& r) { r.Put("SDHC/ZEL_Update/MCU", Pattern(16, 1)); },
         0x04,
         {{"mcu", 33}}},
        {"McuImageLongerThanTheMcusFlash",
         [](DeviceRoot& r) { r.Put("SDHC/ZEL_Update/MCU", Pattern(131073, 1)); },
         0x04,
         {{"mcu", 33}}},
        {"SmallestMcuImage",
         [](DeviceRoot& r) { r.Put("SDHC/ZEL_Update/MCU", Pattern(1024, 1)); },
         0x04,
         {{"mcu", kSuccess}},
         true},
        {"OnlyTheMcuImageForAFirmwareRequest",
         [](DeviceRoot& r) { r.Put("SDHC/ZEL_Update/MCU", McuImage()); },
         0x0C,
         {{"mpeg", 43}, {"mcu", kSuccess}},
         true},
        {"GoodMpegImage",
         [](DeviceRoot& r) { r.Put("SDHC/ZEL_Update/DVDROM.bin", MpegImage(50000)); },
         0x08,
         {{"mpeg", kSuccess}},
         true},
        {"GoodMcuImage",
         [](DeviceRoot& r) { r.Put("SDHC/ZEL_Update/MCU", McuImage()); },
         0x04,
         {{"mcu", kSuccess}},
         true},
        {"OnlyTheMcuImageForAFullRequest",
         [](DeviceRoot& r) { r.Put("SDHC/ZEL_Update/MCU", McuImage()); },
         0x0E,
         {{"application", 1002}, {"mcu", kSuccess}},
         true},
        {"GoodNavigationData",
         [](DeviceRoot& r) { NaviFiles(r, "maps/north", 5); },
         0x40,
         {{"navigation", kSuccess}}},
        {"NoFormatterLibrary",
         [](DeviceRoot& r) {
             NaviFiles(r, "maps", 2);
             r.Put("硬盘/navi_update/index.dat", "index");
             fs::remove(r.Path() / "Windows" / "fatutil.dll");
         },
         0x40,
         {{"navigation", kSuccess}}},
        {"NavigationFolderWithoutFiles",
         [](DeviceRoot& r) {
             fs::create_directories(r.Path() / fs::u8path("硬盘/navi_update/maps"));
         },
         0x40,
         {{"navigation", 22}}},
        {"NavigationFilesInADotFolder",
         [](DeviceRoot& r) {
             NaviFiles(r, "maps", 3);
             NaviFiles(r, ".cache", 2);
         },
         0x40,
         {{"navigation", 20}}},
        {"NavigationNamesTheCardCannotHold",
         [](DeviceRoot& r) {
             NaviFiles(r, "maps", 2);
             r.Put("硬盘/navi_update/a\\b.dat", "x");
             r.Put("硬盘/navi_update/maps/a:b.dat", "x");
             r.Put("硬盘/navi_update/\xff.dat", "x");
         },
         0x40,
         {{"navigation", kSuccess}}},
        {"NavigationNamesThatDifferInCase",
         [](DeviceRoot& r) {
             r.Put("硬盘/navi_update/Tile1.dat", "first");
             r.Put("硬盘/navi_update/tile1.dat", "second");
         },
         0x40,
         {{"navigation", 20}}},
        {"NavigationFolderTwinWithoutFiles",
         [](DeviceRoot& r) {
             NaviFiles(r, "Maps", 2);
             fs::create_directories(r.Path() / fs::u8path("硬盘/navi_update/maps/empty"));
         },
         0x40,
         {{"navigation", kSuccess}}},
        {"NavigationLinkLoop",
         [](DeviceRoot& r) {
             NaviFiles(r, "maps", 2);
             Link(r, "硬盘/navi_update/maps/up", "..");
         },
         0x40,
         {{"navigation", kSuccess}}},
        {"NavigationLinkToTheCard",
         [](DeviceRoot& r) {
             NaviFiles(r, "maps", 2);
             r.Put("Storage Card/old.map", "old");
             Link(r, "硬盘/navi_update/card", "../../Storage Card");
         },
         0x40,
         {{"navigation", kSuccess}}},
        {"CardLinksToTheApplication",
         [](DeviceRoot& r) {
             NaviFiles(r, "maps", 2);
             Link(r, "Storage Card/app", "../ResidentFlash3/ZEL");
         },
         0x40,
         {{"navigation", kSuccess}}},
        {"CardVolumeLinkToNothing",
         [](DeviceRoot& r) {
             NaviFiles(r, "maps", 2);
             r.Put("硬盘/navi_update/index.dat", "index");
             fs::remove(r.Path() / "Storage Card");
             fs::create_directory_symlink(r.Path().string() + "-no-card",
                                          r.Path() / "Storage Card");
         },
         0x40,
         {{"navigation", 23}}},
        {"NavigationPipe",
         [](DeviceRoot& r) {
             NaviFiles(r, "maps", 2);
             Pipe(r, "硬盘/navi_update/maps/tile.fifo");
         },
         0x40,
         {{"navigation", 20}}},
        {"NavigationPipeInADotFolderEvensTheCount",
         [](DeviceRoot& r) {
             NaviFiles(r, "maps", 2);
             NaviFiles(r, ".cache", 1);
             Pipe(r, "硬盘/navi_update/maps/tile.fifo");
         },
         0x40,
         {{"navigation", kSuccess}}},
    };
}

// Where the card is, and whether it can take the copy: a missing card, a medium that shares
// the card's storage (volume links to one card reader's folder "CardReader", which is itself a
// top folder of the device root), a source folder that cannot be listed, a card that keeps
// entries nothing removes.
void MoveVolume(DeviceRoot& root, const std::string& volume, const std::string& target) {
    fs::remove_all(At(root, volume));
    fs::create_directories(At(root, target));
    Link(root, volume, target);
}

void CardReaderFiles(DeviceRoot& root, const std::string& folder, int count) {
    for (int i = 0; i < count; ++i)
        root.Put("CardReader/" + folder + "/t" + std::to_string(i) + ".dat", Pattern(2000, i));
}

std::vector<MediumCase> CardPlacementCases() {
    return {
        {"NoCardInTheUnit",
         [](DeviceRoot& r) {
             NaviFiles(r, "maps", 2);
             fs::remove(r.Path() / "Storage Card");
         },
         0x40,
         {{"navigation", 23}}},
        {"FileInPlaceOfTheCard",
         [](DeviceRoot& r) {
             NaviFiles(r, "maps", 2);
             fs::remove(r.Path() / "Storage Card");
             r.Put("Storage Card", "not a card");
         },
         0x40,
         {{"navigation", 23}}},
        {"MediumAndCardInOneReader",
         [](DeviceRoot& r) {
             CardReaderFiles(r, "navi_update/maps", 3);
             MoveVolume(r, "Storage Card", "CardReader");
             MoveVolume(r, "SDHC", "CardReader");
         },
         0x40,
         {{"navigation", 24}}},
        {"MediumInAFolderOfTheCard",
         [](DeviceRoot& r) {
             CardReaderFiles(r, "update/navi_update/maps", 3);
             MoveVolume(r, "Storage Card", "CardReader");
             MoveVolume(r, "SDHC", "CardReader/update");
         },
         0x40,
         {{"navigation", 24}}},
        {"CardInAFolderOfTheMedium",
         [](DeviceRoot& r) {
             NaviFiles(r, "maps", 2);
             MoveVolume(r, "Storage Card", "硬盘/navi_update/card");
         },
         0x40,
         {{"navigation", 24}}},
        {"NavigationFolderDeeperThanAHostPath",
         [](DeviceRoot& r) {
             NaviFiles(r, "maps", 2);
             e2e::PutDeepFile(At(r, "硬盘/navi_update/deep"), 80, "leaf.dat", "leaf");
         },
         0x40,
         {{"navigation", 20}}},
        {"DotFolderOnTheCardWithoutAFormatter",
         [](DeviceRoot& r) {
             NaviFiles(r, "maps", 2);
             r.Put("Storage Card/.trash/old.map", "old");
             fs::remove(r.Path() / "Windows" / "fatutil.dll");
         },
         0x40,
         {{"navigation", 20}}},
        {"DotFolderOnTheCardGoesWithTheFormat",
         [](DeviceRoot& r) {
             NaviFiles(r, "maps", 2);
             r.Put("Storage Card/.trash/old.map", "old");
         },
         0x40,
         {{"navigation", kSuccess}}},
    };
}

void PrintTo(const MediumCase& medium, std::ostream* out) {
    *out << medium.name;
}

// The entries whose description differs, for a readable failure.
std::vector<std::string> Changed(const std::map<std::string, std::string>& before,
                                 const std::map<std::string, std::string>& after) {
    std::vector<std::string> changed;
    for (const auto& [path, description] : before) {
        auto it = after.find(path);
        if (it == after.end() || it->second != description)
            changed.push_back(path + ": " + description.substr(0, 120));
    }
    for (const auto& [path, description] : after) {
        if (before.count(path) == 0)
            changed.push_back(path + " (new)");
    }
    return changed;
}

std::string Outcome(const minijson::Value& stage) {
    if (stage["outcome"].text == "failure")
        return stage["kind"].text + " " + std::to_string(stage["code"].Int());
    return stage["kind"].text + " success";
}

std::string Expected(const Stage& stage) {
    if (stage.code == kSuccess)
        return std::string(stage.kind) + " success";
    return std::string(stage.kind) + " " + std::to_string(stage.code);
}

// The update record's word as a boot left it, or "missing".
std::string RecordWord(DeviceRoot& root) {
    fs::path record = root.Path() / "ResidentFlash2" / "UpdateInfo.dat";
    if (!fs::exists(record))
        return "missing";
    std::string bytes = root.Read("ResidentFlash2/UpdateInfo.dat");
    unsigned word = 0;
    for (std::size_t i = 0; i < 4 && i < bytes.size(); ++i)
        word |= static_cast<unsigned>(static_cast<unsigned char>(bytes[i])) << (8 * i);
    return std::to_string(word);
}

// The word the report says the record holds afterwards ("2: ...", "0", "missing, ...").
std::string PredictedRecord(const std::string& text) {
    if (text.rfind("missing", 0) == 0)
        return "missing";
    return text.substr(0, text.find(':'));
}

class CheckAgreementTest : public ::testing::TestWithParam<MediumCase> {
protected:
    void SetUp() override {
        LayOutUnit(root);
        GetParam().layOut(root);
        if (GetParam().request != kNoRecord)
            PutRequest(root, GetParam().request);
    }

    // Boots the unit until it exits, or until the reset countdown shows after an MCU stage.
    e2e::RunResult Boot(const fs::path& trace) {
        std::vector<std::string> arguments{"--root", root.Path().string(), "--clock-rate",
                                           "50",     "--screen-trace",     trace.string()};
        std::unique_ptr<e2e::BackgroundProgram> mcu, mpeg;
        if (GetParam().coprocessors) {
            std::string sim = e2e::kSim;
            mcu = std::make_unique<e2e::BackgroundProgram>(
                sim, std::vector<std::string>{"mcu", "--log", "/dev/null"});
            mpeg = std::make_unique<e2e::BackgroundProgram>(
                sim, std::vector<std::string>{"mpeg", "--alive-ms", "5", "--flash-ms", "25",
                                              "--log", "/dev/null"});
            arguments.insert(arguments.end(),
                             {"--com", "2=" + mcu->FirstLine(), "--com", "3=" + mpeg->FirstLine()});
        }
        return e2e::RunProgramUntil(
            QUARRIN_BINARY, arguments,
            [&] { return e2e::TraceShows(trace, "系统即将复位，请拔出升级卡！(30)"); },
            std::chrono::seconds(40));
    }

    DeviceRoot root;
};

TEST_P(CheckAgreementTest, TheBootShowsWhatTheCheckPredicted) {
    const MediumCase& medium = GetParam();
    AgeAccessTimes(root.Path());
    auto before = Snapshot(root.Path());
    CheckRun check = RunCheck({"--root", root.Path().string()});
    EXPECT_EQ(Changed(before, Snapshot(root.Path())), std::vector<std::string>{})
        << "the check changed the unit";

    const minijson::Value& boot = check.report["boots"][0];
    std::vector<std::string> predicted, wanted;
    bool failed = false;
    for (const minijson::Value& stage : boot["stages"].items)
        predicted.push_back(Outcome(stage));
    for (const Stage& stage : medium.stages) {
        wanted.push_back(Expected(stage));
        failed = failed || stage.code != kSuccess;
    }
    ASSERT_EQ(predicted, wanted) << check.run.out;
    EXPECT_EQ(check.run.exitCode, failed ? 1 : 0) << check.run.err;
    EXPECT_EQ(check.report["exitCode"].Int(), check.run.exitCode);
    fs::path trace = root.Path().parent_path() / (root.Path().filename().string() + "-trace");
    e2e::RunResult run = Boot(trace);
    std::vector<std::string> results;
    for (const minijson::Value& stage : boot["stages"].items)
        results.push_back(AsTraced(stage["result"].text));
    EXPECT_EQ(ResultScreens(trace), results) << run.err.substr(0, 2000);
    std::string launch = boot["launch"].text;
    if (launch.rfind("the shell", 0) == 0) {
        EXPECT_TRUE(e2e::WaitForFile(root.Path() / "shell-started")) << launch;
    } else if (launch.rfind("the main application", 0) == 0) {
        EXPECT_FALSE(fs::exists(root.Path() / "shell-started")) << launch;
    }
    EXPECT_EQ(RecordWord(root), PredictedRecord(boot["record"].text)) << boot["record"].text;
    fs::remove(trace);
}

INSTANTIATE_TEST_SUITE_P(Media, CheckAgreementTest, ::testing::ValuesIn(Cases()),
                         [](const ::testing::TestParamInfo<MediumCase>& info) {
                             return std::string(info.param.name);
                         });
INSTANTIATE_TEST_SUITE_P(CardPlacement, CheckAgreementTest,
                         ::testing::ValuesIn(CardPlacementCases()),
                         [](const ::testing::TestParamInfo<MediumCase>& info) {
                             return std::string(info.param.name);
                         });

}  // namespace
