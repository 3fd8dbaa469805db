target_sources(quarrin_core PRIVATE
  dialog/DialogGlobals.cpp
  dialog/FirmwareImages.cpp
  dialog/UpdateDialog.cpp
  dialog/UpdateDialogScreen.cpp
)
