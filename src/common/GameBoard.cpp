// Filled in by the GameBoard sources.
