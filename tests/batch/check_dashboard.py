#!/usr/bin/env python3
"""Runs every query of the Grafana dashboard against a real Prometheus and a
real PostgreSQL run history, as Grafana would, and checks what comes back.

  check_dashboard.py [--failing STATION:ROW:PROBLEM]... [--outcome STATION:OUTCOME]...
      DASHBOARD.json PROMETHEUS_URL PSQL PG_URL STATION...

Grafana's variables are put in as it would for the stations named
($station as a regular expression in PromQL and a quoted list in SQL,
$__rate_interval, $__timeFilter over the last day). Every PromQL
expression must be answered with success and the panels of the stations'
rates and outcomes must have a series for each station; every SQL query
must run. --failing: the failing-ports table has that port with that
problem. --outcome: the outcome panel shows it, and the history's runs
table has a run of the station with it. Prints one line per finding and
exits 1 on any.
"""
import argparse
import json
import re
import subprocess
import sys
import urllib.parse
import urllib.request

parser = argparse.ArgumentParser()
parser.add_argument("--failing", action="append", default=[])
parser.add_argument("--outcome", action="append", default=[])
parser.add_argument("dashboard")
parser.add_argument("prometheus")
parser.add_argument("psql")
parser.add_argument("pg_url")
parser.add_argument("stations", nargs="+")
ARGS = parser.parse_args()
PROMETHEUS, STATIONS = ARGS.prometheus, ARGS.stations
problems = []


def prometheus(path, **query):
    url = PROMETHEUS + path + "?" + urllib.parse.urlencode(query)
    with urllib.request.urlopen(url, timeout=30) as answer:
        return json.load(answer)


def promql(expr):
    expr = expr.replace("$__rate_interval", "10s")
    return expr.replace("$station", "|".join(re.escape(s) for s in STATIONS))


def sql(text):
    text = re.sub(r"\$__timeFilter\(([^)]*)\)", r"\1 > now() - interval '1 day'", text)
    return text.replace("$station", ",".join("'%s'" % s for s in STATIONS))


with open(ARGS.dashboard) as f:
    dashboard = json.load(f)

variable = dashboard["templating"]["list"][0]
match = re.fullmatch(r"label_values\((\w+), (\w+)\)", variable["query"]["query"])
listed = prometheus("/api/v1/label/%s/values" % match.group(2), **{"match[]": match.group(1)})
for station in STATIONS:
    if station not in listed["data"]:
        problems.append("the station variable does not offer %s: %s" % (station, listed["data"]))

answers = {}
for panel in dashboard["panels"]:
    for target in panel["targets"]:
        title = panel["title"]
        if "expr" in target:
            answer = prometheus("/api/v1/query", query=promql(target["expr"]))
            if answer.get("status") != "success":
                problems.append("%s: %s" % (title, answer))
                continue
            answers[title] = [r["metric"] for r in answer["data"]["result"]]
        else:
            run = subprocess.run([ARGS.psql, ARGS.pg_url, "-v", "ON_ERROR_STOP=1", "-A", "-t", "-F", "|",
                                  "-c", sql(target["rawSql"])],
                                 capture_output=True, text=True, timeout=60)
            if run.returncode != 0:
                problems.append("%s: psql: %s" % (title, run.stderr.strip()))
                continue
            answers[title] = [line.split("|") for line in run.stdout.splitlines()]
        print("%s: %d rows" % (title, len(answers[title])))


def stations_in(title):
    return {m.get("station") for m in answers.get(title, [])}


for title in ("Run outcome so far", "Receive rate per port: $station"):
    missing = set(STATIONS) - stations_in(title)
    if missing:
        problems.append("%s: nothing for %s" % (title, sorted(missing)))

for wanted in ARGS.failing:
    station, row, problem = wanted.split(":", 2)
    found = [m for m in answers.get("Failing ports", [])
             if (m.get("station"), m.get("row"), m.get("problem")) == (station, row, problem)]
    if not found:
        problems.append("Failing ports: no %s, rows: %s" % (wanted, answers.get("Failing ports")))

for wanted in ARGS.outcome:
    station, outcome = wanted.split(":")
    shown = [m.get("outcome") for m in answers.get("Run outcome so far", [])
             if m.get("station") == station]
    if shown != [outcome]:
        problems.append("Run outcome so far: %s shows %s, not %s" % (station, shown, outcome))
    if not any(r[1] == station and r[4] == outcome for r in answers.get("Runs", [])):
        problems.append("Runs: no %s run of %s: %s" % (outcome, station, answers.get("Runs")))

for p in problems:
    print("PROBLEM: " + p)
sys.exit(1 if problems else 0)
