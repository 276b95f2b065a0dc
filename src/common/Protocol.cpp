// Filled in by the Protocol sources.
