"""A process's memory as the kernel counts it."""


def status_kib(pid):
    """{"VmRSS": KiB, "VmHWM": KiB, "Threads": count} of a running process; empty once it has
    gone."""
    figures = {}
    try:
        with open(f"/proc/{pid}/status") as f:
            for line in f:
                key, _, rest = line.partition(":")
                if key in ("VmRSS", "VmHWM", "Threads"):
                    figures[key] = int(rest.split()[0])
    except (FileNotFoundError, ProcessLookupError):
        return {}
    return figures
