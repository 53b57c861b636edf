# Prints the role and accessible name of every widget on the accessibility bus, one per line.
# Used by scripts/dev/accessible-names.sh; needs python3-pyatspi.
import pyatspi
desktop = pyatspi.Registry.getDesktop(0)
names = []
def walk(acc, depth=0):
    try:
        n = acc.name; r = acc.getRoleName()
    except Exception:
        return
    names.append((r, n))
    for i in range(acc.childCount):
        walk(acc.getChildAtIndex(i), depth+1)
for app in desktop:
    if app is None: continue
    walk(app)
for r, n in names:
    print(f"{r}: {n}")
