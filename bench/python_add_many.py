#!/usr/bin/python3
"""add_many of 100 000 names from Python (four containers of 25 000, under the
per-container limit), best of five, and its ratio to the same work through
the C++ face when the path of bench/face_add_many's program is given:

    PYTHONPATH=build/dev/python bench/python_add_many.py [build/bench/face_add_many_bench]
"""
import subprocess
import sys
import time

import nametree

names = [f"Tag_{i}" for i in range(25000)]
best = float("inf")
for _ in range(5):
    doc = nametree.in_memory()
    start = time.perf_counter()
    for _ in range(4):
        doc.add_many(doc.add_container(0, "own"), names)
    best = min(best, time.perf_counter() - start)
print(f"python add_many of 100 000 names: {best:.4f} s")
if len(sys.argv) > 1:
    cpp = float(subprocess.run([sys.argv[1]], check=True, capture_output=True, text=True).stdout)
    print(f"C++ AddMany of the same: {cpp:.4f} s; ratio {best / cpp:.2f}")
