"""Companion tools for the swathwise planner: garden files, summaries, pictures."""
