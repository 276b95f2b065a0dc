// Filled in by the Tool sources.
