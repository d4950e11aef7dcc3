"""Drives the built player as a person would: a private X display, sound server, session bus
and accessibility registry, started for one test run and stopped by process id afterwards."""
