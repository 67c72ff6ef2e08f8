"""Fills in the frames ThreadSanitizer left as "<null> <null> (module+0x..)"
(gcc's runtime cannot read our libraries' debug information) with
llvm-symbolizer, reading a report log on stdin. Modules are looked for
under the build directories given as arguments, then in the system's."""
import collections
import glob
import os
import re
import subprocess
import sys

FRAME = re.compile(r"^(\s+#\d+ )<null> <null> \((\S+)\+(0x[0-9a-f]+)\)")


def locate(module, roots):
    for root in roots:
        found = glob.glob(os.path.join(root, "**", module), recursive=True)
        if found:
            return found[0]
    for folder in ("/lib/x86_64-linux-gnu", "/usr/lib/x86_64-linux-gnu", "/usr/bin"):
        if os.path.exists(os.path.join(folder, module)):
            return os.path.join(folder, module)
    return None


def main():
    roots = sys.argv[1:]
    lines = sys.stdin.read().splitlines()
    wanted = collections.defaultdict(set)
    for line in lines:
        m = FRAME.match(line)
        if m:
            wanted[m.group(2)].add(m.group(3))
    names = {}
    for module, offsets in wanted.items():
        path = locate(module, roots)
        if not path:
            continue
        offsets = sorted(offsets)
        out = subprocess.run(["llvm-symbolizer", "--obj=" + path, "--demangle", "--no-inlines"] + offsets,
                             capture_output=True, text=True).stdout
        for offset, block in zip(offsets, out.strip("\n").split("\n\n")):
            parts = block.split("\n") + ["?"]
            names[(module, offset)] = f"{parts[0]} {parts[1]}"
    for line in lines:
        m = FRAME.match(line)
        if m and (m.group(2), m.group(3)) in names:
            line = f"{m.group(1)}{names[(m.group(2), m.group(3))]} ({m.group(2)}+{m.group(3)})"
        print(line)


if __name__ == "__main__":
    main()
