"""The engine's folders are layers: a file includes only its own folder and those below it."""
import pathlib
import re
import sys

# Each folder with the folders it may include besides itself.
ALLOWED = {
    "player": {"stations", "pipeline", "network", "runtime", "texts"},
    "stations": {"network", "runtime", "texts"},
    "pipeline": {"network", "runtime", "texts"},
    "network": {"runtime", "texts"},
    "runtime": set(),
    "texts": set(),
    "test_outputs": {"pipeline", "runtime"},
}

engine = pathlib.Path(sys.argv[1])
wrong = []
for path in sorted(engine.rglob("*")):
    if path.suffix not in (".h", ".cpp"):
        continue
    folder = path.relative_to(engine).parts[0]
    for included in re.findall(r'#include "engine/(\w+)/', path.read_text()):
        if included != folder and included not in ALLOWED.get(folder, set()):
            wrong.append(f"{path.relative_to(engine)} includes engine/{included}/")
print("\n".join(wrong) or "every include goes down the layers")
sys.exit(1 if wrong else 0)
