# Sources of workers/ are added here as they land.
