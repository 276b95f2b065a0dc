// Filled in by the Map sources.
