#!/usr/bin/env python3
"""Runs every query of a Grafana dashboard against a Prometheus server, as Grafana would.

The template variables take the first value their own query finds (regular-expression
escaped, as Grafana writes a value into a =~ matcher); Grafana's interval variables take
fixed spans. Each panel query must return at least one series: a query that returns nothing
draws an empty panel, which a user reads as "all quiet".
Usage: dashboard_queries.py DASHBOARD.json http://127.0.0.1:PORT
Exit status 0 when every query returned data; every query's outcome on standard output.
"""
import json
import re
import sys
import urllib.parse
import urllib.request

# Grafana's own variables; the spans only need to cover a few scrapes of a short test.
BUILT_IN = {"__rate_interval": "1m", "__interval": "15s", "__range": "1h"}
LABEL_VALUES = re.compile(r"^\s*label_values\((?:(.*),)?\s*([A-Za-z_][A-Za-z0-9_]*)\s*\)\s*$", re.S)
VARIABLE = re.compile(r"\$\{([A-Za-z0-9_]+)(?::[a-z]+)?\}|\$([A-Za-z0-9_]+)")


def query(server, expr):
    """The series of an instant query, or None when the server refused it."""
    url = server + "/api/v1/query?" + urllib.parse.urlencode({"query": expr})
    try:
        with urllib.request.urlopen(url, timeout=5) as response:
            answer = json.load(response)
    except Exception as error:  # a refused query (HTTP 400) is a broken dashboard
        print(f"  error: {error}")
        return None
    return answer["data"]["result"]


def regex_value(value):
    """A label value as a regular expression matching only itself, in a PromQL string."""
    return re.sub(r"([\\.*+?^${}()|\[\]])", r"\\\\\1", value)


def substitute(text, values):
    """`text` with every variable replaced; None when one has no value."""
    unknown = []

    def replace(match):
        name = match.group(1) or match.group(2)
        if name not in values:
            unknown.append(name)
            return match.group(0)
        return values[name]

    out = VARIABLE.sub(replace, text)
    return None if unknown else out


def variable_values(server, dashboard, ok):
    """Each query variable's first value; `ok[0]` falls when one has none."""
    values = dict(BUILT_IN)
    for variable in dashboard.get("templating", {}).get("list", []):
        if variable.get("type") != "query":
            continue
        definition = variable.get("query")
        definition = definition.get("query", "") if isinstance(definition, dict) else definition or ""
        match = LABEL_VALUES.match(definition)
        selector = substitute(match.group(1) or "", values) if match else None
        series = query(server, selector) if selector else None
        found = sorted({s["metric"][match.group(2)] for s in series or [] if match.group(2) in s["metric"]})
        print(f"{'ok' if found else 'NO VALUES'}: variable {variable['name']} = {found[:3]}  <- {definition}")
        if not found:
            ok[0] = False
            continue
        values[variable["name"]] = regex_value(found[0])
    return values


def panel_queries(panels):
    """Every (panel title, expr) of the panels, rows' panels included."""
    for panel in panels:
        yield from panel_queries(panel.get("panels", []))
        for target in panel.get("targets", []):
            if target.get("expr"):
                yield panel.get("title", "?"), target["expr"]


def main():
    dashboard_path, server = sys.argv[1], sys.argv[2].rstrip("/")
    with open(dashboard_path, encoding="utf-8") as f:
        dashboard = json.load(f)
    ok = [True]
    values = variable_values(server, dashboard, ok)
    count = 0
    for title, expr in panel_queries(dashboard.get("panels", [])):
        count += 1
        concrete = substitute(expr, values)
        series = query(server, concrete) if concrete is not None else None
        print(f"{'ok' if series else 'NO DATA'}: {title}: {' '.join((concrete or expr).split())}")
        ok[0] = ok[0] and bool(series)
    if count == 0:
        print("NO QUERIES in the dashboard")
        return 1
    return 0 if ok[0] else 1


if __name__ == "__main__":
    sys.exit(main())
