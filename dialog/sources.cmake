# Sources of dialog/ are added here as they land.
