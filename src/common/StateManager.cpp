// Filled in by the StateManager sources.
