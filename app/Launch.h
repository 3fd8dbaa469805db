// Starting the program that runs after the loader: the main application, or the platform
// shell when the service marker asks for it or the application cannot be found.
#pragma once

int LaunchMainApplication();

// The main application, the marker that asks for the shell instead, and the shell.
inline constexpr wchar_t MAIN_APPLICATION_PATH[] = L"ResidentFlash3\\ZEL\\Velmoran.exe";
inline constexpr wchar_t SHELL_MARKER_PATH[] = L"ResidentFlash3\\gotoeee";
inline constexpr wchar_t PLATFORM_SHELL_PATH[] = L"\\Windows\\explorer.exe";
