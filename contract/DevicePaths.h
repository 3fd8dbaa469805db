// The unit's volumes and the files and folders the loader reads and writes on them, in one
// place. Paths are relative to the device's root, as the unit names them.
#pragma once

// --- Volumes
inline constexpr wchar_t CARD_VOLUME[] = L"Storage Card";  // the navigation card
inline constexpr wchar_t CARD_ROOT[] = L"Storage Card\\";
inline constexpr wchar_t SDHC_ROOT[] = L"SDHC\\";
inline constexpr wchar_t DISK_ROOT[] = L"硬盘\\";
// Volumes searched for the application package and the firmware images, in this order.
inline constexpr const wchar_t* UPDATE_SOURCE_VOLUMES[] = {CARD_ROOT, SDHC_ROOT, DISK_ROOT};
// Volumes searched for the navigation folder, in this order (the card is its destination).
inline constexpr const wchar_t* NAVI_SOURCE_VOLUMES[] = {DISK_ROOT, SDHC_ROOT};

// --- Below a source volume's root
inline constexpr wchar_t APP_PACKAGE_FILE[] = L"ZEL_Update\\ZEL.bin";
inline constexpr wchar_t MCU_IMAGE_FILE[] = L"ZEL_Update\\MCU";
inline constexpr wchar_t MPEG_IMAGE_FILE[] = L"ZEL_Update\\DVDROM.bin";
inline constexpr wchar_t NAVI_FOLDER[] = L"navi_update";

// --- Resident flash
// The volume whose free space decides whether the backup package is refreshed.
inline constexpr wchar_t BACKUP_VOLUME[] = L"ResidentFlash\\";
// The backup package, the source of a restore, and the name it is copied under until whole.
inline constexpr wchar_t BACKUP_PACKAGE_PATH[] = L"ResidentFlash\\ZEL.bin";
inline constexpr wchar_t BACKUP_PACKAGE_PARTIAL[] = L"ResidentFlash\\ZEL.bin.partial";
// The update record: the request word for the next start.
inline constexpr wchar_t UPDATE_RECORD_PATH[] = L"ResidentFlash2\\UpdateInfo.dat";
// The head of the MCU's identification record, kept by the MCU stage.
inline constexpr wchar_t MCU_RAW_DATA_PATH[] = L"ResidentFlash2\\RawData";
// The backup of the touch-screen calibration.
inline constexpr wchar_t TOUCH_CALIBRATION_BACKUP_PATH[] = L"ResidentFlash2\\TsData.dat";
// The leftover folders the application worker clears, in this order; the package unpacks
// below APP_DESTINATION and must bring APP_FOLDER, which replaces the installed one.
inline constexpr wchar_t APP_TEMPORARY_FOLDER[] = L"ResidentFlash3\\_Temp_$";
inline constexpr wchar_t APP_PREVIOUS_FOLDER[] = L"ResidentFlash3\\ZEL_Del";
inline constexpr wchar_t APP_FOLDER[] = L"ResidentFlash3\\ZEL";
inline constexpr wchar_t APP_DESTINATION[] = L"ResidentFlash3\\";
// The main application, the marker that asks for the shell instead, and the shell.
inline constexpr wchar_t MAIN_APPLICATION_PATH[] = L"ResidentFlash3\\ZEL\\Velmoran.exe";
inline constexpr wchar_t SHELL_MARKER_PATH[] = L"ResidentFlash3\\gotoeee";
inline constexpr wchar_t PLATFORM_SHELL_PATH[] = L"\\Windows\\explorer.exe";

// --- The operating-system hand-over: when OS_IMAGE_PATH opens, the writers of the record
// rename the card's marker folder so that the boot code takes it.
inline constexpr wchar_t OS_IMAGE_PATH[] = L"硬盘\\OS_Update\\xip.bin";
inline constexpr wchar_t OS_HANDOVER_FOLDER[] = L"Storage Card\\UPD";
inline constexpr wchar_t OS_HANDOVER_TARGET[] = L"Storage Card\\UPDOS";
