"""The runner of the end-to-end tests: which tests and in what order (discovery), their
verdicts (results) and running them here or in parallel workers (pool)."""
