// The fixture of the firmware protocol tests on the virtual clock: the loader boots against
// scripted co-processors on simulated COM ports.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "platform/sim/SimPlatform.h"
#include "tests/support/Frames.h"
#include "tests/support/Pattern.h"
#include "tests/support/ScriptedCoprocessors.h"

namespace firmwaretest {

using quarrin::platform::SimPlatform;
using quarrin::platform::SimSerialPeer;
using testsupport::BlockAck;
using testsupport::Bytes;
using testsupport::Frame;
using testsupport::McuModel;
using testsupport::McuVersionPayload;
using testsupport::MpegModel;
using testsupport::ScriptedCoprocessor;
using testsupport::ScriptedCoprocessors;

inline std::string Pattern(std::size_t size, unsigned seed) {
    return testsupport::Pattern(size, seed, 31, 251);
}

class FirmwareProtocolTest : public ::testing::Test {
protected:
    void SetUp() override;
    // Runs the loader with the request word; a WM_CLOSE is posted after `closeAfterMs` of
    // virtual time unless it is 0.
    void Boot(DWORD request, DWORD closeAfterMs = 0);
    bool Shown(const std::string& text);
    // Index of the first or the last screen text line containing `text`; -1 when none.
    int FirstShown(const std::string& text);
    int LastShown(const std::string& text);
    bool Logged(const std::wstring& line);
    int LoggedCount(const std::wstring& line);

    SimPlatform sim;
};

}  // namespace firmwaretest
