#!/usr/bin/env python3
"""Every command's --json output against the schema file, on the TCP simulator.

Usage: cli_schema_test.py TESSALY_CLI TESSALY_PRINTER_SIM SCHEMA
"""
import json
import os
import re
import subprocess
import sys
import tempfile

import jsonschema

cli, sim, schema_path = sys.argv[1:4]
validator = jsonschema.Draft7Validator(json.load(open(schema_path)))
failures = []


def start_printer(*options):
    printer = subprocess.Popen([sim, "--port", "0", *options], stdout=subprocess.PIPE, text=True)
    port = re.search(r"127\.0\.0\.1:(\d+)", printer.stdout.readline()).group(1)
    return printer, "127.0.0.1:" + port


def check(args, command, documents=1):
    run = subprocess.run([cli, "--json", *args], capture_output=True, text=True, timeout=120)
    lines = run.stdout.splitlines() if documents > 1 else [run.stdout]
    if documents > 1 and len(lines) != documents:
        failures.append(f"{args}: {len(lines)} lines, not {documents}")
    codes = []
    for text in lines:
        try:
            document = json.loads(text)
        except json.JSONDecodeError as error:
            failures.append(f"{args}: not JSON ({error}): {text!r}")
            continue
        for error in validator.iter_errors(document):
            failures.append(f"{args}: {error.json_path}: {error.message}")
        if document.get("command") != command:
            failures.append(f"{args}: command {document.get('command')!r}")
        codes.append(document.get("exit_code"))
    # A fleet ends with the highest code of its printers.
    if codes and max(codes) != run.returncode:
        failures.append(f"{args}: exit codes {codes}, the program's {run.returncode}")
    return lines


folder = tempfile.mkdtemp()
files = {"card.prn": b"PRINT\x1b*DATA", "new.cfe": b"\x7f" * 2500, "lam.hex": b":10000000ABCDEF"}
for name, content in files.items():
    with open(os.path.join(folder, name), "wb") as file:
        file.write(content)

printer, address = start_printer()
garbage, garbled = start_printer("--fault", "garbage")
try:
    one = ["--ethernet", address]
    check(["--simulated-printer", "--usb-printers", "2", "ports"], "ports")
    check(one + ["doctor"], "doctor")
    for args in (["identity"], ["identity", "--set", "FDC=55"], ["reset", "--yes"], ["reset"],
                 ["counters"], ["send", "TST"], ["print", os.path.join(folder, "card.prn")],
                 ["upgrade", os.path.join(folder, "new.cfe"), "--yes"],
                 ["upgrade-laminator", os.path.join(folder, "lam.hex"), "--yes"],
                 ["query", "--save", os.path.join(folder, "query.txt")], ["sensors"],
                 ["network"], ["network", "--dhcp", "--yes"],
                 ["encode", "--track1", "AB", "--track3", "99"], ["encode", "--self-test"],
                 ["read-card"], ["eject"]):
        check(one + args, args[0])
    # Replies that make no sense are missing values, not invented ones.
    for args in (["identity"], ["counters"], ["network"], ["read-card"]):
        check(["--ethernet", garbled] + args, args[0])
    check(one + ["--ethernet", garbled, "counters"], "counters", documents=2)
    # A printer that cannot be reached has no values, and says why.
    check(one + ["--ethernet", "127.0.0.1:1", "counters"], "counters", documents=2)
finally:
    for process in (printer, garbage):
        process.terminate()
        process.wait(timeout=10)

for failure in failures:
    print(failure)
sys.exit(1 if failures else 0)
