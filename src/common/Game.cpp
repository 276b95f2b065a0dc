// Filled in by the Game sources.
