#!/usr/bin/env python3
"""Prints what an atomic run must put back, one line an entry below DIR (the
current directory by default): its path, kind, permission bits, identity
(inode), modification time, size and content hash, or a link's target.
Comparing the output before and after a run shows what the run left
changed."""
import hashlib
import os
import stat
import sys

root = sys.argv[1] if len(sys.argv) > 1 else "."
for dirpath, dirnames, filenames in os.walk(root):
    dirnames.sort()
    for name in sorted(dirnames + filenames):
        path = os.path.join(dirpath, name)
        st = os.lstat(path)
        rel = os.path.relpath(path, root)
        mode = oct(stat.S_IMODE(st.st_mode))
        if stat.S_ISLNK(st.st_mode):
            print(rel, "link", os.readlink(path), st.st_ino)
        elif stat.S_ISDIR(st.st_mode):
            print(rel, "dir", mode, st.st_ino, st.st_mtime_ns)
        else:
            with open(path, "rb") as f:
                digest = hashlib.sha1(f.read()).hexdigest()
            print(rel, "file", mode, st.st_ino, st.st_mtime_ns, st.st_size, digest)
