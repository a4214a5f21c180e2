"""Reads the output of ansible-playbook's json callback on standard input and prints one line
per play and host: "PLAY|HOST|ok=N changed=N failed=N unreachable=N", then lines
"FAILED|PLAY|TASK|message" for every failed task, "HANDLER|PLAY|TASK|count" for every task
that ran more than once in a play, and "TIME|PLAY|TASK|seconds" for every task."""
import datetime
import json
import sys


def seconds(duration):
    def parse(s):
        return datetime.datetime.fromisoformat(s.rstrip("Z"))
    return (parse(duration["end"]) - parse(duration["start"])).total_seconds()


# One document per playbook named on the command line.
text = sys.stdin.read()
docs = []
decoder = json.JSONDecoder()
at = text.find("{")
while at >= 0:
    doc, end = decoder.raw_decode(text, at)
    docs.append(doc)
    at = text.find("{", end)
# With several playbooks, every document repeats the plays and totals before it: keep the
# last copy of each play and the last totals.
plays = list({play["play"]["id"]: play for doc in docs for play in doc["plays"]}.values())
stats = docs[-1]["stats"] if docs else {}
for play in plays:
    name = play["play"]["name"].split(":")[0]
    counts = {}
    runs = {}
    for task in play["tasks"]:
        tname = task["task"]["name"]
        for host, result in task["hosts"].items():
            c = counts.setdefault(host, {"ok": 0, "changed": 0, "failed": 0, "unreachable": 0})
            if result.get("skipped"):
                continue
            if result.get("unreachable"):
                c["unreachable"] += 1
            elif result.get("failed"):
                c["failed"] += 1
                msg = result.get("msg") or result.get("stderr") or ""
                print(f"FAILED|{name}|{tname}|{host}: {msg}".replace("\n", " "))
            elif result.get("changed"):
                c["changed"] += 1
            else:
                c["ok"] += 1
            runs[(tname, host)] = runs.get((tname, host), 0) + 1
        if "end" in task["task"].get("duration", {}):
            print(f"TIME|{name}|{tname}|{seconds(task['task']['duration']):.1f}")
    for host, c in counts.items():
        print(f"PLAY|{name}|{host}|ok={c['ok']} changed={c['changed']} failed={c['failed']} unreachable={c['unreachable']}")
    for (tname, host), n in runs.items():
        if n > 1:
            print(f"HANDLER|{name}|{tname}|{n}")
for host, s in stats.items():
    print(f"RECAP|{host}|ok={s['ok']} changed={s['changed']} failed={s['failures']} unreachable={s['unreachable']}")
