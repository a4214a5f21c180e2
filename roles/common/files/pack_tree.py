#!/usr/bin/env python3
"""Packs what git tracks at HEAD of a work tree into a tar archive for the transfer to the
target, the same whatever the controller's umask or the work tree's file modes:
directories 0755, files 0644 (0755 when executable), links as git holds them, every entry
owned by UID:GID and dated at the commit. A link that leads out of the tree, directly or
through other links of the tree, is left out and reported.

    pack_tree.py WORK_TREE UID GID

Prints one JSON object: {"archive": path of the archive (a temporary file the caller
removes), "left_out": ["link -> target", ...]}. Exit status 1 with a message on standard
error when WORK_TREE has no commit git can read.
"""
import json
import os
import subprocess
import sys
import tarfile
import tempfile


def resolve(parts, links, hops=0):
    """The path `parts` (components relative to the top of the tree) with the tree's links
    followed, as components; None when it leads out of the tree."""
    real = []
    for name in parts:
        if name in ("", "."):
            continue
        if name == "..":
            if not real:
                return None
            real.pop()
            continue
        real.append(name)
        target = links.get("/".join(real))
        if target is not None:
            if target.startswith("/") or hops >= 40:
                return None
            real = resolve(real[:-1] + target.split("/"), links, hops + 1)
            if real is None:
                return None
    return real


def main():
    tree, uid, gid = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
    git = subprocess.Popen(["git", "-C", tree, "archive", "--format=tar", "HEAD"],
                           stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    fd, archive = tempfile.mkstemp(prefix="tervane-transfer-", suffix=".tar")
    links, left_out = {}, []
    try:
        with os.fdopen(fd, "wb") as out, tarfile.open(fileobj=out, mode="w", format=tarfile.PAX_FORMAT) as packed, \
                tarfile.open(fileobj=git.stdout, mode="r|") as tracked:
            for entry in tracked:
                entry.uid, entry.gid, entry.uname, entry.gname = uid, gid, "", ""
                entry.pax_headers = {}
                entry.name = entry.name.rstrip("/")
                if entry.issym():
                    links[entry.name] = entry
                    continue
                if entry.isdir():
                    entry.mode = 0o755
                elif entry.isreg():
                    entry.mode = 0o755 if entry.mode & 0o100 else 0o644
                else:
                    continue
                packed.addfile(entry, tracked.extractfile(entry) if entry.isreg() else None)
            # Links last: which ones stay inside is known only once all of them are read.
            targets = {name: entry.linkname for name, entry in links.items()}
            for name, entry in sorted(links.items()):
                if resolve(name.split("/")[:-1] + entry.linkname.split("/"), targets) is None:
                    left_out.append(f"{name} -> {entry.linkname}")
                else:
                    entry.mode = 0o777
                    packed.addfile(entry)
    except tarfile.TarError as unreadable:
        # git's own message says more when git failed; the archive it wrote is unreadable then.
        if git.wait() == 0:
            raise unreadable
    error = git.stderr.read().decode(errors="replace").strip()
    if git.wait() != 0:
        os.unlink(archive)
        sys.exit(f"{tree} has no commit to send: git archive HEAD failed: {error}")
    print(json.dumps({"archive": archive, "left_out": left_out}))


if __name__ == "__main__":
    main()
