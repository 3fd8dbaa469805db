target_sources(quarrin_plan PRIVATE
  plan/SourceRoots.cpp
  plan/UpdateDiscovery.cpp
  plan/UpdatePlan.cpp
  plan/UpdateRecord.cpp
  plan/VersionFields.cpp
  plan/TouchKeyImport.cpp
  plan/StorageFormat.cpp
)
