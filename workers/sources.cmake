# Sources of workers/ are added here as they land.
target_sources(quarrin_core PRIVATE
  workers/AppInstallThread.cpp
  workers/TreeOperations.cpp
  workers/NaviUpdateThread.cpp
)
