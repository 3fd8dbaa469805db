target_sources(quarrin_core PRIVATE
  app/CommandLine.cpp
  app/Launch.cpp
  app/QuarrinApp.cpp
  app/StartupConfig.cpp
  app/TouchCalibrationBackup.cpp
  app/UpdateCourse.cpp
)
