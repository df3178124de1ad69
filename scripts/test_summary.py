"""Sums up the JUnit reports of a test run: one line per stage, the reasons for skipped tests,
and a last line "tests: N passed, N failed, N skipped". Exits 1 when a test failed or a stage
left no report (it stopped before its tests ran, for example on a build error).

    python3 scripts/test_summary.py "C++ tests=build/results/cpp.xml" ...
"""

from __future__ import annotations

import sys
import xml.etree.ElementTree as ET
from collections import Counter
from pathlib import Path


def outcomes(report: Path) -> tuple[Counter[str], Counter[str]]:
    """Counts of passed, failed and skipped test cases, and the skip reasons."""
    counts: Counter[str] = Counter(passed=0, failed=0, skipped=0)
    reasons: Counter[str] = Counter()
    for case in ET.parse(report).iter("testcase"):
        if case.find("failure") is not None or case.find("error") is not None:
            counts["failed"] += 1
        elif (skipped := case.find("skipped")) is not None or case.get(
            "status"
        ) == "notrun":
            counts["skipped"] += 1
            reason = "no reason given"
            if skipped is not None:
                reason = (
                    skipped.get("message") or (skipped.text or "").strip() or reason
                )
            reasons[reason.removeprefix("Skipped: ").strip()] += 1
        else:
            counts["passed"] += 1
    return counts, reasons


def main(stages: list[str]) -> int:
    total: Counter[str] = Counter(passed=0, failed=0, skipped=0)
    reasons: Counter[str] = Counter()
    width = max(len(stage.partition("=")[0]) for stage in stages)
    for stage in stages:
        name, _, path = stage.partition("=")
        report = Path(path)
        if not report.is_file():
            print(f"{name:<{width}}  no report: the stage stopped before its tests ran")
            total["failed"] += 1
            continue
        counts, stage_reasons = outcomes(report)
        print(
            f"{name:<{width}}  {counts['passed']:>5} passed {counts['failed']:>5} failed"
            f" {counts['skipped']:>5} skipped"
        )
        total.update(counts)
        reasons.update(stage_reasons)
    for reason, count in reasons.most_common():
        print(f"skipped {count} × {reason}")
    print(
        f"tests: {total['passed']} passed, {total['failed']} failed, {total['skipped']} skipped"
    )
    return 1 if total["failed"] else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
