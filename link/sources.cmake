# Sources of link/ are added here as they land.
