target_sources(quarrin_workers PRIVATE
  workers/AppInstallThread.cpp
  workers/TreeOperations.cpp
  workers/NaviUpdateThread.cpp
)
