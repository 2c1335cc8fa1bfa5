"""The parts of bench/run: namespaces, subjects, load tools, measures and the report."""
