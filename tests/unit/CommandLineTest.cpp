#include <gtest/gtest.h>

#include "app/CommandLine.h"

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
    EXPECT_FALSE(ParseCommandLine({"--clock-rate", "fast"}).options);
    EXPECT_FALSE(ParseCommandLine({"--clock-rate", "0"}).options);
    EXPECT_FALSE(ParseCommandLine({"--clock-rate", "-2"}).options);
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

TEST(CommandLineTest, TakesTheRegistryFile) {
    EXPECT_EQ(ParseCommandLine({"--registry=r.reg"}).options->registryFile, "r.reg");
    EXPECT_TRUE(ParseCommandLine({}).options->registryFile.empty());
    EXPECT_FALSE(ParseCommandLine({"--registry"}).options);
}
