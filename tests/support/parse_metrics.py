#!/usr/bin/python3
"""Reads a metrics file with Prometheus' own parser; prints '# TYPE name type' per family and
'name{k=v,...} value' per sample. A family that stands twice in the file is an error."""
import sys

from prometheus_client.parser import text_string_to_metric_families

seen = set()
with open(sys.argv[1], encoding="utf-8") as f:
    for family in text_string_to_metric_families(f.read()):
        if family.name in seen:
            sys.exit(f"family {family.name} stands twice")
        seen.add(family.name)
        print(f"# TYPE {family.name} {family.type}")
        for sample in family.samples:
            labels = ",".join(f"{k}={v}" for k, v in sorted(sample.labels.items()))
            print(f"{sample.name}{{{labels}}} {float(sample.value)}" if labels
                  else f"{sample.name} {float(sample.value)}")
