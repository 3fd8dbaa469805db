target_sources(quarrin_dialog PRIVATE
  dialog/FirmwareImageRules.cpp
  dialog/FirmwareImages.cpp
  dialog/FirmwareProtocol.cpp
  dialog/McuStage.cpp
  dialog/MpegStage.cpp
  dialog/ProgressReport.cpp
  dialog/ScreenTexts.cpp
  dialog/StageChain.cpp
  dialog/UpdateDialog.cpp
  dialog/UpdateDialogScreen.cpp
  dialog/UpdateDialogState.cpp
)
