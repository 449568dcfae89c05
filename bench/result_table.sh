#!/usr/bin/env bash
# Reads benchmark output on standard input and prints its
# "RESULT|row|what|figure|reference|ratio|goal" lines as one table (Markdown,
# as bench/README.md keeps it), rows in order, each with whether its goal is met.
set -euo pipefail
grep '^RESULT|' | sort -t'|' -k2,2 -s | awk -F'|' '
  function met(ratio, figure, goal,    op, limit, value) {
    if (goal == "-" || goal == "") return "-"
    op = goal; sub(/[0-9.].*/, "", op)
    limit = substr(goal, length(op) + 1) + 0
    value = ratio
    if (value == "-" || value == "") {
      if (figure !~ /^[0-9.]/) return "not measured"
      value = figure
    }
    value += 0
    if (op == "<=") return value <= limit ? "met" : "NOT met"
    if (op == ">=") return value >= limit ? "met" : "NOT met"
    if (op == "<") return value < limit ? "met" : "NOT met"
    if (op == ">") return value > limit ? "met" : "NOT met"
    return "?"
  }
  BEGIN {
    print "| | Figure | Measured | Reference | Ratio | Goal | |"
    print "|---|---|---|---|---|---|---|"
  }
  { printf "| (%s) | %s | %s | %s | %s | %s | %s |\n", $2, $3, $4, $5, $6, $7, met($6, $4, $7) }'
