// Replaced by the argument parser sources.
