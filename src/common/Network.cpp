// Filled in by the Network sources.
