// The run of the Windows build: where the device lives and where its output goes. Set up
// once by the entry point before the application object runs.
#pragma once

#include <string>

namespace quarrin::platform::win32 {

// Makes the device's paths valid Windows paths. The device root must be the root of a drive
// ("Q:\", made with `subst Q: C:\device`, or under Wine with a dosdevices link): the loader's
// paths are relative ("ResidentFlash2\UpdateInfo.dat") or start at the root
// ("\Windows\explorer.exe"), so with the current directory at the drive's root both name
// the device's files, and the real file functions take them unchanged. A library name
// without a folder is looked for in the device's "\Windows" folder, as on the device.
// Returns an empty text on success, otherwise what is wrong.
std::wstring EnterDeviceRoot(const std::wstring& root);

// Debug lines go to the debug output, standard error and (when given) the log file,
// appended. Returns false when the log file cannot be opened.
bool StartDebugOutput(const std::wstring& logFile);
// Progress lines (ReportProgressLine) go to standard output when enabled.
void EnableProgressOutput(bool enabled);
// What TouchCalibrate reports: there is no calibration screen.
void SetTouchCalibrationResult(bool completed);
// Declares the stores of the storage manager, after EnterDeviceRoot: "DSK1:" carries the
// volume "Storage Card" when the device root has that folder; otherwise there are none.
void DeclareDefaultStores();

// UTF-8 and wide text (UTF-16).
std::wstring WideFromUtf8(const std::string& text);
std::string Utf8FromWide(const std::wstring& text);

}  // namespace quarrin::platform::win32
