// Where the unit looks for its update sources and how it tells that one is there. Discovery
// follows these rules; so does everything that must say in advance what discovery will find.
#pragma once

#include <string>

#include "platform/Win32.h"

// Volumes searched for the application package and the firmware images, in this order.
inline constexpr const wchar_t* UPDATE_SOURCE_VOLUMES[] = {L"Storage Card\\", L"SDHC\\", L"硬盘\\"};
// Volumes searched for the navigation folder, in this order ("Storage Card" is its
// destination).
inline constexpr const wchar_t* NAVI_SOURCE_VOLUMES[] = {L"硬盘\\", L"SDHC\\"};

// Files and folders below a volume root.
inline constexpr wchar_t APP_PACKAGE_FILE[] = L"ZEL_Update\\ZEL.bin";
inline constexpr wchar_t MCU_IMAGE_FILE[] = L"ZEL_Update\\MCU";
inline constexpr wchar_t MPEG_IMAGE_FILE[] = L"ZEL_Update\\DVDROM.bin";
inline constexpr wchar_t NAVI_FOLDER[] = L"navi_update";
// The backup package, the source of a restore, and the name it is copied under until whole.
inline constexpr wchar_t BACKUP_PACKAGE_PATH[] = L"ResidentFlash\\ZEL.bin";
inline constexpr wchar_t BACKUP_PACKAGE_PARTIAL[] = L"ResidentFlash\\ZEL.bin.partial";

// The 8-bit version fields of the firmware images.
inline constexpr LONG MCU_VERSION_OFFSET = 131047;
inline constexpr int MCU_VERSION_BYTES = 24;
inline constexpr LONG MPEG_VERSION_OFFSET = 48;
inline constexpr int MPEG_VERSION_BYTES = 16;

// A source file is present when it opens for reading without sharing.
bool ProbeSourceFile(const std::wstring& path);

// A navigation folder is present when a search for "*.*" in it finds an entry.
bool NaviFolderHasEntries(const std::wstring& folder);
