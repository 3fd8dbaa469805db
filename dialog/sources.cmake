target_sources(quarrin_core PRIVATE
  dialog/DialogGlobals.cpp
)
