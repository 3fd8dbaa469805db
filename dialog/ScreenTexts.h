// The texts of the progress screen that tell what a stage does, formatted exactly as the
// screen draws them (into its buffer of SCREEN_TEXT_CHARS characters).
#pragma once

#include <cstddef>
#include <string>

#include "platform/Win32.h"

inline constexpr std::size_t SCREEN_TEXT_CHARS = 200;

// In each, `restore` selects the wording of a restore from the backup package.
std::wstring PreparingText(DWORD kind, bool restore);
// The running stage's main line, with the version text of its source.
std::wstring RunningText(DWORD kind, bool restore, const std::wstring& version);
// The result of a stage; a failure shows `code`.
std::wstring ResultText(DWORD kind, bool success, bool restore, int code);
std::wstring BackupText();
std::wstring DetectionText(int secondsLeft);
std::wstring ResetCountdownText(int secondsLeft);
