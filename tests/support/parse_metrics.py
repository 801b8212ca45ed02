#!/usr/bin/python3
"""Reads a metrics file with Prometheus' own parser; prints 'name{k=v,...} value' per sample."""
import sys

from prometheus_client.parser import text_string_to_metric_families

with open(sys.argv[1], encoding="utf-8") as f:
    for family in text_string_to_metric_families(f.read()):
        for sample in family.samples:
            labels = ",".join(f"{k}={v}" for k, v in sorted(sample.labels.items()))
            print(f"{sample.name}{{{labels}}} {float(sample.value)}" if labels
                  else f"{sample.name} {float(sample.value)}")
