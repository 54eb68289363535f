"""Prints the folder where this interpreter finds packages installed under
the prefix given: the sys.path entry under it, else the prefix's platform
library folder (a folder for PYTHONPATH)."""
import os
import sys
import sysconfig

prefix = os.path.normpath(sys.argv[1])
for entry in sys.path:
    inside = entry.startswith(prefix + os.sep) and entry[len(prefix) + 1:].startswith("lib")
    if inside and os.path.basename(entry) in ("dist-packages", "site-packages"):
        print(entry)
        break
else:
    print(sysconfig.get_path("platlib", "posix_prefix" if os.name == "posix" else "nt",
                             vars={"base": prefix, "platbase": prefix}))
