#include <gtest/gtest.h>

#include <chrono>

#include "main/CommandLine.h"
#include "platform/host/ScaledClock.h"

TEST(CommandLineTest, AcceptsOptionsInBothForms) {
    auto result = ParseCommandLine({"--root", "dev", "--log=run.log", "--clock-rate", "10"});
    ASSERT_TRUE(result.options);
    EXPECT_EQ(result.options->root, "dev");
    EXPECT_EQ(result.options->logFile, "run.log");
    EXPECT_DOUBLE_EQ(result.options->clockRate, 10.0);
    EXPECT_EQ(ParseCommandLine({}).options->root, "./device");
}

TEST(CommandLineTest, RejectsWhatItDoesNotKnow) {
    EXPECT_EQ(ParseCommandLine({"--bogus"}).error, "unknown option '--bogus'");
    EXPECT_FALSE(ParseCommandLine({"--root"}).options);
}

TEST(CommandLineTest, TakesOnlyClockRatesTheHostClockCarries) {
    for (const char* bad :
         {"fast", "0", "-2", "1e300", "1e-300", "0.0009", "1000000.5", "inf", "nan", "20x", ""}) {
        auto result = ParseCommandLine({"--clock-rate", bad});
        EXPECT_FALSE(result.options) << bad;
        EXPECT_NE(result.error.find("--clock-rate"), std::string::npos) << bad;
    }
    for (const char* good : {"0.001", "1e6", "1000000", "20", "0.5"})
        EXPECT_TRUE(ParseCommandLine({"--clock-rate", good}).options) << good;
}

// At either end of the accepted rates a year of running neither overflows the scaled clock
// nor puts a deadline out of the real clock's reach; no rate gives a deadline in the past,
// which would make every wait return at once.
TEST(CommandLineTest, TheScaledClockCarriesAYearAtEitherEndOfTheRange) {
    using namespace quarrin::platform;
    using Milliseconds = std::chrono::duration<double, std::milli>;
    const double yearMs = Milliseconds(std::chrono::hours(24 * 366)).count();
    const auto origin = ScaledClockBase::now();
    const auto realNow =
        origin + std::chrono::duration_cast<ScaledClockBase::duration>(Milliseconds(yearMs));
    for (double rate : {CLOCK_RATE_MIN, 1.0, CLOCK_RATE_MAX}) {
        std::uint64_t now = ScaledMs(yearMs, rate);
        EXPECT_LT(now, std::uint64_t{1} << 60) << rate;
        EXPECT_GT(ScaledMs(yearMs + 1000, rate), now) << rate;
        auto longest = RealDeadline(origin, realNow, now + 0xFFFFFFFE, rate);  // INFINITE - 1
        EXPECT_GT(longest, realNow) << rate;
        EXPECT_LE(longest, realNow + SCALED_CLOCK_LONGEST_WAIT) << rate;
        auto soon = RealDeadline(origin, realNow, now + 1, rate);
        EXPECT_GT(soon, realNow) << rate;
        EXPECT_LE(soon - realNow, std::chrono::milliseconds(1001)) << rate;
    }
    // Far below the range a deadline lies beyond any real wait: it is waited for in steps.
    EXPECT_EQ(RealDeadline(origin, realNow, 20000, 1e-300), realNow + SCALED_CLOCK_LONGEST_WAIT);
}

TEST(CommandLineTest, MapsComPortsToHostDevices) {
    auto result = ParseCommandLine({"--com", "2=/dev/pts/7", "--com=3=/dev/ttyUSB0"});
    ASSERT_TRUE(result.options);
    EXPECT_EQ(result.options->comPorts,
              (std::map<int, std::string>{{2, "/dev/pts/7"}, {3, "/dev/ttyUSB0"}}));
    for (const char* bad : {"2", "=/dev/x", "2=", "0=/dev/x", "256=/dev/x", "x=/dev/y"}) {
        EXPECT_FALSE(ParseCommandLine({"--com", bad}).options) << bad;
    }
}

// A store carries a volume, one folder of the device root; a path names none the device has.
TEST(CommandLineTest, AStoreCarriesAVolumeNotAPath) {
    for (const char* bad : {"DSK1=../outside", "DSK1=/tmp/card", "DSK1=Storage Card/sub",
                            "DSK1=SDHC\\x", "DSK1=..", "DSK1=."}) {
        EXPECT_FALSE(ParseCommandLine({"--store", bad}).options) << bad;
    }
    EXPECT_TRUE(ParseCommandLine({"--store", "DSK1=USB Disk"}).options);
}

TEST(CommandLineTest, TakesTheRegistryFile) {
    EXPECT_EQ(ParseCommandLine({"--registry=r.reg"}).options->registryFile, "r.reg");
    EXPECT_TRUE(ParseCommandLine({}).options->registryFile.empty());
    EXPECT_FALSE(ParseCommandLine({"--registry"}).options);
}
