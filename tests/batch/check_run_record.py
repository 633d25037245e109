#!/usr/bin/env python3
"""Checks a run's JSON record and JUnit file against its final table.

  check_run_record.py REPORT.csv RECORD.json JUNIT.xml OUTPUT.txt EXIT_CODE

REPORT.csv is the run's --report (the final table as CSV), OUTPUT.txt what
the run printed, EXIT_CODE its exit code. The JSON record is validated
against the JSON Schema that ships with the program (and the schema shown
to refuse a record with a member gone or of the wrong type), and every
port's fields are compared with the cells of its row. The JUnit file is
read with Python's XML parser (and junitparser, a JUnit consumer), held to
the elements and attributes Jenkins' xunit schema allows, and its counts,
names and texts checked against the record. Prints one line per finding;
exits 1 on any mismatch.
"""
import copy
import csv
import json
import os
import sys
import xml.etree.ElementTree as ET

import jsonschema

SCHEMA = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tester", "report",
                      "run_record.schema.json")

# What Jenkins' xunit plugin's JUnit schema lets each element carry (the
# only schema a CI server checks these files against): the attributes
# allowed, those required, and the elements allowed inside. <testsuites>
# in particular takes no skipped count.
JUNIT_RULES = {
    "testsuites": ({"name", "time", "tests", "failures", "errors", "disabled"}, set(),
                   {"testsuite"}),
    "testsuite": ({"name", "tests", "failures", "errors", "time", "disabled", "skipped",
                   "timestamp", "hostname", "id", "package", "file", "log", "url", "version",
                   "group"}, {"name", "tests"},
                  {"properties", "testcase", "system-out", "system-err"}),
    "properties": (set(), set(), {"property"}),
    "property": ({"name", "value"}, {"name", "value"}, set()),
    "testcase": ({"name", "assertions", "time", "classname", "status", "class", "file", "line",
                  "log", "group", "url"}, {"name"},
                 {"skipped", "error", "failure", "system-out", "system-err"}),
    "skipped": ({"message"}, set(), set()),
    "error": ({"message", "type"}, set(), set()),
    "failure": ({"message", "type"}, set(), set()),
    "system-out": (set(), set(), set()),
    "system-err": (set(), set(), set()),
}

problems = []


def expect(what, found, wanted):
    if found != wanted:
        problems.append(f"{what}: {found!r}, expected {wanted!r}")


def elapsed_cell(seconds):
    whole = int(seconds)
    return f"{whole // 3600:02d}:{whole // 60 % 60:02d}:{whole % 60:02d}"


def check_port(row, port):
    label = f"port {row['#']}"
    expect(f"{label} index", str(port["index"]), row["#"])
    expect(f"{label} name", port["name"], row["Name"])
    expect(f"{label} result", port["result"], row["Result"])
    if row["Result"] == "not opened":
        expect(f"{label} outcome", port["outcome"], "ERROR")
        expect(f"{label} state", port["state"], "not open")
        expect(f"{label} open_failure", port["open_failure"], row["ErrDesc"])
        expect(f"{label} kind", port["kind"], "")
        return
    if port["state"] == "opening":  # the run was stopped while it opened
        expect(f"{label} outcome", (port["outcome"], row["Result"]), ("SKIPPED", "not tested"))
        return
    c = port["counters"]
    for key, unit in (("rx_bytes", "B"), ("tx_bytes", "B"), ("rate", "B/s"), ("elapsed", "s")):
        expect(f"{label} {key} unit", c[key]["unit"], unit)
    expect(f"{label} Rx#", f"{c['rx_bytes']['value']}/{c['rx_blocks']}", row["Rx#"])
    expect(f"{label} Tx#", f"{c['tx_bytes']['value']}/{c['tx_blocks']}", row["Tx#"])
    expect(f"{label} CPS", str(c["rate"]["value"]), row["CPS"])
    expect(f"{label} Err#", f"{c['rx_errors']}/{c['tx_errors']}", row["Err#"])
    expect(f"{label} ErrDesc",
           f"{c['last_line_errors']}/{c['error_kind']}/{c['os_error']:04d}", row["ErrDesc"])
    expect(f"{label} Time", elapsed_cell(c["elapsed"]["value"]), row["Time"])
    expect(f"{label} Drops", str(c["drops"]), row["Drops"])
    expect(f"{label} Lost", str(c["blocks_lost"]), row["Lost"])
    expect(f"{label} LineErr", str(c["line_error_reads"]), row["LineErr"])
    expect(f"{label} LineErrSeen", c["line_errors_seen"], row["LineErrSeen"])
    expect(f"{label} kind", port["kind"] in ("tty", "pseudo-terminal", "network"), True)
    mode = {"": "duplex", "M": "master", "S": "slave"}.get(row["State"][:1], "?")
    expect(f"{label} mode", port["settings"]["mode"], mode)
    wanted = {"passed": "PASS", "failed": "FAIL", "not tested": "SKIPPED"}[row["Result"]]
    if c["drops"] != 0:
        wanted = "ERROR"
    expect(f"{label} outcome", port["outcome"], wanted)
    expect(f"{label} reasons", bool(port["reasons"]), row["Result"] == "failed")
    if "RateCheck" in row:
        rate = port["checks"].get("rate")
        if rate is None:
            problems.append(f"{label}: the table has a rate check, the record none")
            return
        expect(f"{label} RateCheck", rate["result"], row["RateCheck"])
        expect(f"{label} RateExpected", f"{rate['expected']['value']:.1f}", row["RateExpected"])
        if row["RateMeasured"]:
            expect(f"{label} RateMeasured", f"{rate['measured']['value']:.1f}",
                   row["RateMeasured"])
            expect(f"{label} RateRatio", abs(rate["ratio"] - float(row["RateRatio"])) < 0.0006,
                   True)
        limits = rate["limits"]
        expect(f"{label} rate limits",
               (limits["low"]["value"] < rate["expected"]["value"] < limits["high"]["value"],
                limits["tolerance"]["value"], limits["low"]["unit"]), (True, 3.0, "B/s"))


def check_junit_rules(element):
    rule = JUNIT_RULES.get(element.tag)
    if rule is None:
        problems.append(f"JUnit: <{element.tag}> is no element of the schema")
        return
    allowed, required, children = rule
    for name in set(element.attrib) - allowed:
        problems.append(f"JUnit: <{element.tag}> may not carry {name}=")
    for name in required - set(element.attrib):
        problems.append(f"JUnit: <{element.tag}> lacks {name}=")
    for child in element:
        if child.tag not in children:
            problems.append(f"JUnit: <{child.tag}> may not stand in <{element.tag}>")
        check_junit_rules(child)


def check_schema(record):
    with open(SCHEMA, encoding="utf-8") as f:
        schema = json.load(f)
    jsonschema.Draft202012Validator.check_schema(schema)
    validator = jsonschema.Draft202012Validator(schema)
    for error in validator.iter_errors(record):
        problems.append(f"schema: {'/'.join(map(str, error.absolute_path))}: {error.message}")
    # The schema would catch a record that changed under it.
    broken = []
    for path, change in ((("run", "exit_code"), None), (("run", "outcome"), "OK"),
                         (("schema_version",), 2), (("run", "started"), "2026-05-01")):
        bad = copy.deepcopy(record)
        target = bad
        for key in path[:-1]:
            target = target[key]
        if change is None:
            del target[path[-1]]
        else:
            target[path[-1]] = change
        if validator.is_valid(bad):
            broken.append("/".join(path))
    if record["ports"] and "counters" in record["ports"][0]:
        bad = copy.deepcopy(record)
        bad["ports"][0]["counters"]["rx_blocks"] = "12"
        if validator.is_valid(bad):
            broken.append("ports/0/counters/rx_blocks")
    expect("schema refuses records changed under it", broken, [])


def check_junit(path, record, rows):
    root = ET.parse(path).getroot()
    expect("JUnit root", root.tag, "testsuites")
    check_junit_rules(root)
    suites = root.findall("testsuite")
    expect("JUnit suites", len(suites), 1)
    suite = suites[0]
    cases = suite.findall("testcase")
    counts = {kind: sum(1 for c in cases if c.find(kind) is not None)
              for kind in ("failure", "error", "skipped")}
    for element in (root, suite):
        expect(f"JUnit {element.tag} tests", element.get("tests"), str(len(cases)))
        expect(f"JUnit {element.tag} failures", element.get("failures"), str(counts["failure"]))
        expect(f"JUnit {element.tag} errors", element.get("errors"), str(counts["error"]))
    expect("JUnit testsuite skipped", suite.get("skipped"), str(counts["skipped"]))
    names = [c.get("name") for c in cases]
    expect("JUnit case names unique", len(set(names)), len(names))
    # A run stopped before its time is an error of its own, so that the
    # file never reads as passed.
    aborted = [c for c in cases if c.get("name") == "run aborted"]
    expect("JUnit run aborted case", len(aborted), 1 if record["run"]["outcome"] == "ABORTED" else 0)
    for case in aborted:
        expect("JUnit run aborted is an error", [child.tag for child in case], ["error"])
    run = record["run"]
    expect("JUnit timestamp", suite.get("timestamp"), run["started"][:19])
    properties = {p.get("name"): p.get("value") for p in suite.find("properties")}
    for key in ("unit", "station", "operator", "outcome", "exit_code"):
        expect(f"JUnit property {key}", properties.get(key), str(run[key]))
    expect("JUnit property version", properties.get("version"), record["tool"]["version"])
    by_name = {c.get("name"): c for c in cases}
    for row, port in zip(rows, record["ports"]):
        name = f"port {row['#']} ({row['Name']})"
        case = by_name.get(name)
        if case is None:
            problems.append(f"JUnit: no test case {name!r}")
            continue
        expect(f"JUnit {name} classname", case.get("classname"), "vesktest." + run["unit"])
        kind = {"PASS": None, "FAIL": "failure", "ERROR": "error", "SKIPPED": "skipped"}[
            port["outcome"]]
        children = [child.tag for child in case]
        expect(f"JUnit {name} verdict", children, [kind] if kind else [])
        if kind in ("failure", "error"):
            element = case.find(kind)
            expect(f"JUnit {name} message", element.get("message"), ", ".join(port["reasons"]))
            expect(f"JUnit {name} text", element.text, f"{name}: " + ", ".join(port["reasons"]))
            expect(f"JUnit {name} reason in the run's summary",
                   element.text in run["summary"], True)
    try:
        import junitparser
    except ImportError:
        print("junitparser is not installed: the JUnit file was read by xml.etree alone")
        return
    xml = junitparser.JUnitXml.fromfile(path)
    read = [case for suite in xml for case in suite]
    expect("junitparser cases", len(read), len(cases))
    for case in read:
        results = [type(r).__name__ for r in case.result]
        wanted = {"PASS": [], "FAIL": ["Failure"], "ERROR": ["Error"], "SKIPPED": ["Skipped"]}
        port = next((p for p in record["ports"] if case.name.startswith(
            f"port {p['index']} ({p['name']})")), None)
        if port is not None:
            expect(f"junitparser {case.name}", results, wanted[port["outcome"]])
    print(f"junitparser read {len(read)} test cases")


def main():
    report, record_path, junit, output_path, exit_code = sys.argv[1:6]
    with open(report, newline="") as f:
        rows = list(csv.DictReader(f))
    with open(record_path, encoding="utf-8") as f:
        record = json.load(f)
    with open(output_path, encoding="utf-8", errors="replace") as f:
        output = f.read()
    run = record["run"]
    check_schema(record)
    expect("schema_version", record["schema_version"], 1)
    expect("tool", record["tool"]["name"], "vesktest")
    expect("exit_code", run["exit_code"], int(exit_code))
    expect("outcome", run["outcome"],
           {"0": "PASS", "3": "FAIL", "4": "ERROR", "8": "ABORTED"}.get(exit_code, run["outcome"]))
    expect("started before ended", run["started"] < run["ended"], True)
    expect("times in UTC", (run["started"][-1], run["ended"][-1]), ("Z", "Z"))
    expect("summary printed", f"vesktest: {run['summary']}\n" in output, True)
    expect("reasons in the summary", all(r in run["summary"] for r in run["reasons"]), True)
    expect("ports", len(record["ports"]), len(rows))
    expect("ports configured", run["ports"]["configured"], len(rows))
    expect("ports not opened", run["ports"]["not_opened"],
           sum(1 for r in rows if r["Result"] == "not opened"))
    for row, port in zip(rows, record["ports"]):
        check_port(row, port)
    check_junit(junit, record, rows)
    for problem in problems:
        print("MISMATCH " + problem)
    print(f"{len(rows)} ports compared, {len(problems)} mismatches")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
