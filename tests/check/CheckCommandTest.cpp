// `quarrin check` as a command: its command line, a bare medium in each slot, the JSON
// report's schema and the progress line of a large read.
#include <gtest/gtest.h>

#include "tests/check/CheckTestSupport.h"

namespace {

using namespace checktest;
using e2e::DeviceRoot;

TEST(CheckCommandLineTest, ABadCommandLineExitsWith2AndTheUsage) {
    DeviceRoot root;
    std::string dir = root.Path().string();
    const std::vector<std::vector<std::string>> bad{
        {},
        {"--root", dir, "--medium", dir},
        {"--root", dir, "--as", "SDHC"},
        {"--medium", dir, "--as", "USB"},
        {"--root", dir, "--request", "twelve"},
        {"--root", dir, "--request", "0x100000000"},
        {"--root", dir, "--request", "0x0x40"},
        {"--root", dir, "--request", " 2"},
        {"--root", dir, "--card-size", "0"},
        {"--root", dir, "--card-size", "8T"},
        {"--root", dir, "--verbose"},
        {"--root", dir + "/missing"},
        {"--root"},
    };
    for (const auto& arguments : bad) {
        std::vector<std::string> all{"check"};
        all.insert(all.end(), arguments.begin(), arguments.end());
        e2e::RunResult run = e2e::RunQuarrin(all);
        std::string shown = all.size() > 1 ? all[1] : "(none)";
        EXPECT_EQ(run.exitCode, 2) << shown;
        EXPECT_NE(run.err.find("usage: quarrin check"), std::string::npos) << shown;
        EXPECT_EQ(run.out, "") << shown;
    }
    e2e::RunResult help = e2e::RunQuarrin({"check", "--help"});
    EXPECT_EQ(help.exitCode, 0);
    for (const char* option : {"--root", "--medium", "--as", "--request", "--card-size", "--json"})
        EXPECT_NE(help.out.find(option), std::string::npos) << option;
}

// A bare medium holding a package and navigation data, put into each slot: the sources move
// with the slot's place in the search orders, and the medium stays as it was.
TEST(CheckMediumTest, EachSlotTakesItsPlaceInTheSearchOrders) {
    DeviceRoot medium;
    PutPackage(medium, "ZEL_Update/ZEL.bin", GoodPackage());
    medium.Put("navi_update/maps/tile.dat", "tile");
    AgeAccessTimes(medium.Path());
    auto before = Snapshot(medium.Path());
    struct Slot {
        std::string name;
        std::string package;  // the source found, or "" when none
        std::string navigation;
        std::size_t boots;
    };
    for (const Slot& slot : {Slot{"SDHC", "SDHC\\ZEL_Update\\ZEL.bin", "SDHC\\navi_update", 2},
                             Slot{"硬盘", "硬盘\\ZEL_Update\\ZEL.bin", "硬盘\\navi_update", 2},
                             Slot{"Storage Card", "Storage Card\\ZEL_Update\\ZEL.bin", "", 1}}) {
        CheckRun check = RunCheck({"--medium", medium.Path().string(), "--as", slot.name});
        ASSERT_EQ(check.run.exitCode, 0) << slot.name << check.run.out << check.run.err;
        const minijson::Value& kinds = check.report["kinds"];
        EXPECT_EQ(kinds[0]["kind"].text, "application");
        EXPECT_EQ(kinds[0]["source"].text, slot.package) << slot.name;
        EXPECT_EQ(kinds[1]["kind"].text, "navigation");
        EXPECT_EQ(kinds[1]["found"].boolean, !slot.navigation.empty()) << slot.name;
        if (!slot.navigation.empty()) {
            EXPECT_EQ(kinds[1]["source"].text, slot.navigation);
        }
        EXPECT_EQ(check.report["boots"].Size(), slot.boots) << slot.name;
        EXPECT_EQ(check.report["input"]["slot"].text, slot.name);
    }
    EXPECT_EQ(Snapshot(medium.Path()), before);
}

TEST(CheckMediumTest, ARequestWordReplacesTheRecord) {
    DeviceRoot root;
    LayOutUnit(root);
    PutPackage(root, "SDHC/ZEL_Update/ZEL.bin", GoodPackage());
    root.Put("硬盘/navi_update/tile.dat", "tile");
    PutRequest(root, 0x02);
    CheckRun recorded = RunCheck({"--root", root.Path().string()});
    ASSERT_EQ(recorded.report["boots"][0]["stages"].Size(), 1u);
    EXPECT_EQ(recorded.report["boots"][0]["stages"][0]["kind"].text, "application");
    CheckRun asked = RunCheck({"--root", root.Path().string(), "--request", "0x40"});
    EXPECT_EQ(asked.report["boots"][0]["request"].Int(), 0x40);
    // Decimal with a leading zero is still decimal, as written (never octal 064 = 52).
    EXPECT_EQ(RunCheck({"--root", root.Path().string(), "--request", "064"})
                  .report["boots"][0]["request"]
                  .Int(),
              64);
    ASSERT_EQ(asked.report["boots"][0]["stages"].Size(), 1u);
    EXPECT_EQ(asked.report["boots"][0]["stages"][0]["kind"].text, "navigation");
    CheckRun nothing = RunCheck({"--root", root.Path().string(), "--request", "1"});
    EXPECT_FALSE(nothing.report["boots"][0]["dialog"].boolean);
    EXPECT_EQ(nothing.report["summary"].text, "nothing to update");
}

// Every member that docs/DEVICE.md documents, with its type, on a report that has them all.
TEST(CheckReportTest, TheJsonReportHasTheDocumentedSchema) {
    DeviceRoot root;
    LayOutUnit(root);
    PutPackage(root, "SDHC/ZEL_Update/ZEL.bin",
               {Folder("ZEL"), File("ZEL/Velmoran.exe", "x"), File("ZEL/com1.txt", "x")});
    root.Put("SDHC/ZEL_Update/MCU", std::string(100000, '\x5A'));
    PutRequest(root, 0x06);
    CheckRun check = RunCheck({"--root", root.Path().string()});
    const minijson::Value& report = check.report;
    using T = minijson::Value::Type;
    auto expect = [](const minijson::Value& object, const std::string& key, T type) {
        EXPECT_TRUE(object.Has(key)) << key;
        if (object[key].type != T::NUL) {
            EXPECT_EQ(object[key].type, type) << key;
        }
    };
    expect(report, "schema", T::NUMBER);
    EXPECT_EQ(report["schema"].Int(), 1);
    for (const char* key : {"root", "medium", "slot"})
        expect(report["input"], key, T::STRING);
    ASSERT_EQ(report["kinds"].Size(), 4u);
    for (const minijson::Value& kind : report["kinds"].items) {
        for (const char* key : {"kind", "source", "version", "screen", "verdict", "reason"})
            expect(kind, key, T::STRING);
        for (const char* key : {"requested", "found", "codeKept"})
            expect(kind, key, T::BOOL);
        expect(kind, "code", T::NUMBER);
        for (const char* key : {"search", "facts", "findings"})
            expect(kind, key, T::ARRAY);
        for (const minijson::Value& step : kind["search"].items) {
            expect(step, "path", T::STRING);
            expect(step, "result", T::STRING);
            expect(step, "reason", T::STRING);
        }
    }
    EXPECT_EQ(report["kinds"][0]["verdict"].text, "fail");
    EXPECT_EQ(report["kinds"][0]["code"].Int(), 1005);
    EXPECT_EQ(report["kinds"][3]["verdict"].text, "ok");
    EXPECT_EQ(report["kinds"][3]["findings"][0]["severity"].text, "warning");
    const minijson::Value& boot = report["boots"][0];
    expect(boot, "request", T::NUMBER);
    for (const char* key : {"requestFrom", "ending", "launch", "record"})
        expect(boot, key, T::STRING);
    for (const char* key : {"restore", "dialog", "sourcesFound", "failed"})
        expect(boot, key, T::BOOL);
    ASSERT_EQ(boot["stages"].Size(), 2u);
    for (const minijson::Value& stage : boot["stages"].items) {
        for (const char* key : {"kind", "outcome", "result", "reason", "remains"})
            expect(stage, key, T::STRING);
        expect(stage, "code", T::NUMBER);
        expect(stage, "screens", T::ARRAY);
        expect(stage, "deletes", T::ARRAY);
    }
    EXPECT_EQ(boot["stages"][0]["result"].text, "应用程序升级失败！错误码:1005\r\n\r\n请再试一次");
    expect(report, "summary", T::STRING);
    EXPECT_EQ(report["summary"].text, "would fail: application (1005)");
    EXPECT_EQ(report["exitCode"].Int(), 1);
    EXPECT_EQ(check.run.exitCode, 1);

    e2e::RunResult text = e2e::RunQuarrin({"check", "--root", root.Path().string()});
    EXPECT_EQ(text.exitCode, 1);
    EXPECT_NE(text.out.find("verdict    FAILS with 1005: the entry ZEL/com1.txt is refused"),
              std::string::npos)
        << text.out;
    EXPECT_NE(text.out.find("\nsummary: would fail: application (1005)\n"), std::string::npos);
}

// The card holds the placeholder files (46 MiB) and the data; a copy that runs out of room
// skips files, which the unit reports with 20.
TEST(CheckMediumTest, ACardTooSmallForTheDataFailsWith20) {
    DeviceRoot medium;
    medium.Put("navi_update/maps/tile.dat", std::string(4096, 't'));
    CheckRun fits = RunCheck({"--medium", medium.Path().string(), "--card-size", "64M"});
    EXPECT_EQ(fits.report["kinds"][1]["verdict"].text, "ok") << fits.run.out;
    CheckRun small = RunCheck({"--medium", medium.Path().string(), "--card-size", "40M"});
    const minijson::Value& navigation = small.report["kinds"][1];
    EXPECT_EQ(navigation["verdict"].text, "fail");
    EXPECT_EQ(navigation["code"].Int(), 20);
    EXPECT_NE(navigation["reason"].text.find("the card holds 40.0 MiB"), std::string::npos)
        << navigation["reason"].text;
    EXPECT_EQ(small.run.exitCode, 1);
}

TEST(CheckReportTest, OnlyALargeReadShowsAProgressLine) {
    DeviceRoot medium;
    std::string noise(17 * 1048576, '\0');
    unsigned long long state = 88172645463325252ull;  // xorshift: bytes zstd cannot pack
    for (char& byte : noise) {
        state ^= state << 13;
        state ^= state >> 7;
        state ^= state << 17;
        byte = static_cast<char>(state);
    }
    PutPackage(medium, "ZEL_Update/ZEL.bin", {Folder("ZEL"), File("ZEL/Velmoran.exe", "x")});
    e2e::RunResult small = e2e::RunQuarrin({"check", "--medium", medium.Path().string()});
    EXPECT_EQ(small.err, "");
    PutPackage(medium, "ZEL_Update/ZEL.bin",
               {Folder("ZEL"), File("ZEL/Velmoran.exe", "x"), File("ZEL/noise.dat", noise)});
    e2e::RunResult large = e2e::RunQuarrin({"check", "--medium", medium.Path().string()});
    EXPECT_EQ(large.exitCode, 0) << large.out;
    EXPECT_NE(large.err.find("checking SDHC\\ZEL_Update\\ZEL.bin: 100%\n"), std::string::npos)
        << large.err;
    EXPECT_EQ(large.out.find("checking"), std::string::npos);
}

}  // namespace
