target_sources(quarrin_app PRIVATE
  app/Launch.cpp
  app/QuarrinApp.cpp
  app/StageTable.cpp
  app/StartupConfig.cpp
  app/TouchCalibrationBackup.cpp
  app/UpdateCourse.cpp
)
