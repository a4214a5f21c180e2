#!/usr/bin/env python3
"""Writes the hand-made seeds of each fuzz target's corpus, taken from the
unit tests' inputs. Run once when a target is added; the fuzzer's own
findings are merged in with run.sh --merge."""
import hashlib
import os

here = os.path.dirname(os.path.abspath(__file__))

def put(target, data):
    if isinstance(data, str):
        data = data.encode("utf-8", "surrogateescape")  # \udcXX: the raw byte XX
    d = os.path.join(here, "corpus", target + "_fuzz")
    os.makedirs(d, exist_ok=True)
    name = "seed-" + hashlib.sha1(data).hexdigest()[:16]
    with open(os.path.join(d, name), "wb") as f:
        f.write(data)

for text in [
    "Host web\nHostName 10.0.0.5\nUser deploy\nIdentityFile ~/.ssh/web_key\n",
    "Host web\r\nHostName 10.0.0.5\r\nUser deploy\r\nIdentityFile ~/.ssh/web_key\r\n",
    "Host a\nHostName h",
    "Host *\nUser admin\nHost b\nHostName hb\n",
    "Host a b\nHostName x\n",
    "Host db?\nHostName x\n",
    "Host a\tb\nHostName x\n",
    "Host a\nHostName x # note\n",
    "Host a\nHostName=x\nHostName\n",
    "Host a\nMatch host other\nInclude ~/.ssh/more\nHostName h\n",
    "  # comment\n\tHOST   web   \n  hostname   h  \n",
    b"Host a\xc2\xa0b\nHostName x\n",
    b"Host web\nHostName 10.0.0.5\n# caf\xe9\n",
]:
    put("ssh_config", text)

for keys in [
    "abc\x1b[D\x1b[D\r", "\xc3\xa9t\xc3\xa9\r", "one two\x1bb", "\x1b[1;5D", "\x1b[1;2D", "\x1b[3~", "\x1b[H\x1b[F",
    "\x1b[1~\x1b[4~\x1b[2~\x1b[5~\x1b[6~\x1b[Z", "\x1b\x1f[A", "\x1b[\x1f1;5C", "\x1bO", "\x1b\x7f", "\x03", "\xe6\x1f\x97\xa5",
    b"\xff\xfe\x80", "\x00\x08\x09\x0a\x0d\x7f", "\x1b",
]:
    put("keys", keys)

for width, frame in [
    (10, "x" * 21), (10, "x" * 9 + "日"), (10, "\x1b[36m" + "x" * 10 + "\x1b[0m"), (10, "x" * 10 + "\x1b[0my"),
    (10, "\x1b]8;;http://example.org/\x07" + "x" * 10), (10, "abc" + " " * 8), (1, "日x"), (1, "e\u0301x"),
    (0, "ab"), (10, "a\n\nb"), (10, "\tabc"), (10, "ab\t\tx"), (10, "x" * 10 + "\ty"), (20, "00-preflight: Preflight checks & gum helper"),
    (40, "│  ● a\t\t\tserver-in-the-second-rack (tester@10.0.0.1)\n│  ○ b\t\tc\n"),
]:
    put("measure", bytes([width]) + frame.encode())
put("measure", bytes([10]) + b"\xff" * 11)

for fields in [
    ["arch", "10.9.8.7", "installer", "maria", "pa\"ss\\w\xc3\xb6rd", "s3cr\"t", "/home/u/temp/configs", "/home/u/temp/wallpapers", "/home/u/.ssh/arch_key"],
    ["h", "1.2.3.4", "root", "u", "\x01\x1f\t\n\r\b\f", "\U0001F600 \u2028", "/tmp/\udcff\udcfe", "/w", "~/k"],
]:
    put("run_files", "\0".join(fields))

put("runner", "PLAY [workstation] ***\nTASK [Gathering Facts] ****\nok: [h]\nchanged: [h]\n  fatal: [h]: FAILED!\n"
              "skipping: [h]\nunreachable: [h]\nPLAY RECAP *****\nworkstation : ok=12 changed=3 unreachable=0 failed=0\n"
              "PLAYBOOK: site.yml\nok=1 only\r\n\n\ncrlf end\r")
put("runner", b"bad \xff line\nTASK [a]\r\r\nno newline at the end")

put("cursor", bytes(range(0, 256, 3)))
put("cursor", bytes([0, 14, 28, 2, 4, 4, 10, 11, 12, 6, 7, 8, 9, 13, 27]))

for kind in range(4):
    for keys in ["abc\x1b[D\x1b[DX\r", "\x1b[B\x1b[Bj\x1b[Ak\r", "y\x1b[C\x1b[D\tn\r", "one two\x17\x1bb\x1b[1;5C\x7f\x1b[3~\r",
                 "\r", "\x1b", "\xff\xe6\x97\x00\x1b[1;2D \r", "\x01\x05\x02\x06\x1b[H\x1b[F\r"]:
        put("prompts", bytes([kind]) + keys.encode())
