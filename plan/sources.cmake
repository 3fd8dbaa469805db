target_sources(quarrin_core PRIVATE
  plan/SourceRoots.cpp
  plan/UpdateDiscovery.cpp
  plan/UpdatePlan.cpp
  plan/UpdateRecord.cpp
  plan/VersionFields.cpp
  plan/TouchKeyImport.cpp
  plan/StorageFormat.cpp
)
