target_sources(quarrin_core PRIVATE
  plan/UpdatePlan.cpp
  plan/UpdateRecord.cpp
)
