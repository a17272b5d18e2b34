"""Reads Prometheus' text exposition format on standard input with the
prometheus_client library's own parser (Debian's python3-prometheus-client)
and writes what it read as JSON: {family: {"type": TYPE, "samples":
[[name, labels, value], ...]}}. Input the parser refuses ends it with an
error and a non-zero status."""
import json
import math
import sys

from prometheus_client.parser import text_string_to_metric_families

families = {}
for family in text_string_to_metric_families(sys.stdin.read()):
    if family.name in families:
        sys.exit(f'the family {family.name} comes twice')
    families[family.name] = {
        'type': family.type,
        'samples': [[sample.name, sample.labels,
                     'Infinity' if math.isinf(sample.value) else sample.value]
                    for sample in family.samples],
    }
json.dump(families, sys.stdout)
