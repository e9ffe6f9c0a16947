#!/usr/bin/env python3
"""Every command's --json documents, from the built orvel-cli, against the
JSON Schema that ships in dist/: successes and stops alike. Each run names
the code it must stop with (None: it succeeds), and the document's exitStatus
must be the program's own. Exits 77 (skipped) without python3-jsonschema."""

import json
import os
import subprocess
import sys
import tempfile

try:
    import jsonschema
except ImportError:
    print("python3-jsonschema is not installed (tools/install-deps.sh)", file=sys.stderr)
    sys.exit(77)

# (arguments after "-C DIR --json", the code the document must carry)
RUNS = [
    (["--simulate", "drives"], None),
    (["--simulate=empty", "drives"], None),
    (["--simulate=aspi-no-library", "drives"], "no-route"),
    (["--simulate=default,no-access=1", "drives"], "drives-not-accessible"),
    (["identify", "CW724132.KVF", "CW516215.BIN"], None),
    (["identify", "CW724132.KVF", "JUNK.BIN", "EMPTY.KVF"], "file-not-identified"),
    (["identify", "EMPTY.KVF", "NONE.BIN"], "file-not-opened"),
    (["--simulate", "update", "CW724132.KVF", "--drive", "1", "--backup", "--yes"], None),
    (["--simulate=alt-read", "update", "CW724132.KVF", "--drive", "1", "--backup", "--yes"], None),
    (["--simulate=default,rename-taken=1", "update", "CW516215.BIN", "--drive", "2", "--backup", "--yes"], None),
    (["--simulate=blank-flash", "update", "CW724132.KVF", "--drive", "1", "--yes"], None),
    (["--simulate", "update", "CW724132.KVF", "--drive", "1"], "confirmation-required"),
    (["--simulate", "update", "CW724132.KVF", "--drive", "3", "-y"], "type-code-refused"),
    (["--simulate", "update", "CW724132.KVF", "--drive", "9", "--yes"], "no-such-drive"),
    (["--simulate", "update", "NONE.BIN", "--drive", "1", "--yes"], "file-not-opened"),
    (["--simulate", "update", "JUNK.BIN", "--drive", "1", "--yes"], "file-not-identified"),
    (["--simulate", "update", "PACKED.BIN", "--drive", "1", "--yes"], "file-misfit"),
    (["--simulate", "update", "KZ900200.KVF", "--drive", "1", "--yes"], "type-code-refused"),
    (["--simulate=no-update-mode", "update", "CW724132.KVF", "--drive", "1", "--yes"], "not-a-loader"),
    (["--simulate=rewrite-fails", "update", "CW724132.KVF", "--drive", "1", "--yes"], "rewrite-failed"),
    (["--simulate=disk-full", "update", "CW724132.KVF", "--drive", "1", "--backup", "--yes"],
     "backup-directory-refused"),
    (["--simulate=default,fault=e3:5:short:8192", "update", "CW724132.KVF", "--drive", "1", "--backup", "--yes"],
     "backup-read-short"),
    (["--simulate=default,swap=0:1", "update", "CW724132.KVF", "--drive", "1", "--yes"], "drive-list-changed"),
    (["--simulate", "backup", "--drive", "3"], None),
    (["--simulate", "backup", "--drive", "\\\\.\\cdrom2"], None),
    (["--simulate", "backup", "--drive", "/dev/sda"], "not-a-drive"),
    (["--simulate=default,no-access=1", "backup", "--drive", "\\\\.\\cdrom1"], "drive-not-accessible"),
    (["--simulate=default,no-access=1", "update", "CW724132.KVF", "--drive", "9", "--yes"], "drives-not-accessible"),
    (["--simulate=alt-read", "backup", "--drive", "1"], "backup-not-possible"),
    (["--simulate=no-update-mode", "backup", "--drive", "1"], "not-a-loader"),
    (["--simulate=default,fault=e3:3:check:3/11/00", "backup", "--drive", "1"], "backup-read-failed"),
    (["--simulate=disk-full", "backup", "--drive", "1"], "backup-directory-refused"),
    (["--simulate", "verify", "CW724132.KVF", "--drive", "1"], "firmware-differs"),
    (["--simulate=alt-read", "verify", "CW724132.KVF", "--drive", "1"], "backup-not-possible"),
    (["--simulate", "verify", "PACKED.BIN", "--drive", "1"], "file-misfit"),
    (["--simulate", "verify", "CR412304.BIN", "--drive", "1"], "file-not-for-drive"),
    (["--simulate", "verify", "CW724132.KVF", "--drive", "9"], "no-such-drive"),
    (["--simulate", "update", "CW724132.KVF", "--drive", "1", "--yes", "--pass-type", "Tessaro "], None),
    (["convert", "CW724132.KVF", "PLAIN.BIN"], None),
    (["convert", "CW516215.BIN", "OUT.KVF"], "no-encoded-form"),
    (["convert", "CW724132.KVF", "CW516215.BIN"], "output-exists"),
    (["convert", "CW724132.KVF", "X.TXT"], "wrong-extensions"),
    (["convert", "EMPTY.KVF", "E.BIN"], "file-empty"),
    (["make-samples", "more"], None),
    (["make-samples", "."], "samples-exist"),
    (["help"], None),
    (["help", "frobnicate"], "usage"),
    (["frobnicate"], "usage"),
    (["update", "CW724132.KVF", "--yes"], "usage"),
    (["--simulate=no-such-scenario", "drives"], "usage"),
]


def empty_strings(value, path=""):
    """Where the document has "" (an absent value must be null)."""
    if value == "":
        yield path or "/"
    elif isinstance(value, dict):
        for key, item in value.items():
            yield from empty_strings(item, f"{path}/{key}")
    elif isinstance(value, list):
        for index, item in enumerate(value):
            yield from empty_strings(item, f"{path}/{index}")


def main():
    program, schema_path = sys.argv[1], sys.argv[2]
    with open(schema_path, encoding="utf-8") as f:
        schema = json.load(f)
    jsonschema.Draft7Validator.check_schema(schema)
    validator = jsonschema.Draft7Validator(schema)
    env = dict(os.environ, ORVEL_SIM_FAST="1")
    failures = []
    commands_seen = set()
    with tempfile.TemporaryDirectory(prefix="orvel-json-") as work:
        subprocess.run([program, "-C", work, "make-samples", "."], env=env, check=True, stdout=subprocess.DEVNULL)
        with open(os.path.join(work, "JUNK.BIN"), "wb") as f:
            f.write(b"\x11" * 2048)
        open(os.path.join(work, "EMPTY.KVF"), "wb").close()
        with open(os.path.join(work, "CW724132.KVF"), "rb") as src, open(os.path.join(work, "PACKED.BIN"), "wb") as dst:
            dst.write(src.read())
        runs = RUNS + [((["-C", "/no/such/directory", "drives"]), "no-such-directory")]
        for args, code in runs:
            full = [program] + (["-C", work] if args[0] != "-C" else []) + ["--json"] + args
            done = subprocess.run(full, env=env, stdin=subprocess.DEVNULL, capture_output=True, text=True)
            where = " ".join(args)
            try:
                doc = json.loads(done.stdout)
            except ValueError as e:
                failures.append(f"{where}: not one JSON document ({e}): {done.stdout!r}")
                continue
            errors = sorted(validator.iter_errors(doc), key=lambda e: list(e.absolute_path))
            for error in errors:
                failures.append(f"{where}: {'/'.join(map(str, error.absolute_path))}: {error.message}")
            for path in empty_strings(doc):
                failures.append(f"{where}: {path} is an empty string, not null")
            if doc.get("exitStatus") != done.returncode:
                failures.append(f"{where}: exitStatus {doc.get('exitStatus')} but the program exited {done.returncode}")
            if doc.get("code") != code:
                failures.append(f"{where}: code {doc.get('code')!r}, expected {code!r}")
            if doc.get("command"):
                commands_seen.add(doc["command"])
    missing = {"drives", "identify", "update", "backup", "verify", "convert", "make-samples", "help"} - commands_seen
    if missing:
        failures.append(f"no document of: {', '.join(sorted(missing))}")
    for failure in failures:
        print(failure, file=sys.stderr)
    print(f"{len(runs)} documents checked against {os.path.basename(schema_path)}")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
