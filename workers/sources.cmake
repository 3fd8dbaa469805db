# Sources of workers/ are added here as they land.
target_sources(quarrin_core PRIVATE
  workers/TreeOperations.cpp
)
