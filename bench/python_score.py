#!/usr/bin/env python3
"""Scores one million 60-letter windows with the Python module and with
`varnik score` on the same model and windows, one thread each, and checks that
the scores agree.

Usage: python_score.py BUILD_DIR WORK_DIR [N]
(BUILD_DIR/python holds the module, BUILD_DIR/varnik the program.)
"""
import os
import random
import subprocess
import sys
import time

build, work = sys.argv[1], sys.argv[2]
n = int(sys.argv[3]) if len(sys.argv) > 3 else 1_000_000
sys.path.insert(0, os.path.join(build, "python"))
import numpy as np  # noqa: E402
import varnik  # noqa: E402

here = os.path.dirname(os.path.abspath(__file__))
examples = os.path.join(here, "..", "data", "examples")
binary = os.path.join(build, "varnik")
os.makedirs(work, exist_ok=True)


def read_windows(path):
    with open(path) as f:
        return [line.strip() for line in f if not line.startswith(">")]


model, _ = varnik.train(os.path.join(examples, "donor_train_pos"),
                        os.path.join(examples, "donor_train_neg"),
                        {"Recognition_method": "PWM", "Seed": 5}, threads=1)
model_path = os.path.join(work, "pyscore_pwm.model")
model.save(model_path)

rng = random.Random(7)
windows = ["".join(rng.choice("ACGT") for _ in range(60)) for _ in range(n)]
fasta = os.path.join(work, "pyscore_windows.fa")
with open(fasta, "w") as f:
    for i, w in enumerate(windows):
        f.write(f">w{i}\n{w}\n")
array = np.array([w.encode() for w in windows], dtype="S60")


def best(f, repeats=3):
    times = []
    for _ in range(repeats):
        start = time.perf_counter()
        result = f()
        times.append(time.perf_counter() - start)
    return min(times), result


list_s, from_list = best(lambda: model.score(windows, threads=1))
array_s, from_array = best(lambda: model.score(array, threads=1))
out = os.path.join(work, "pyscore.tsv")
cli_s, _ = best(lambda: subprocess.run([binary, "--threads", "1", "score", model_path, fasta, out],
                                       check=True))
with open(out) as f:
    cli = [line.split("\t")[1] for line in f]
assert np.array_equal(from_list, from_array), "list and array scores differ"
# varnik score writes "%f" of each score
assert ["%f" % v for v in from_list.astype(np.float64)] == cli, \
    "the module's scores differ from varnik score's"
print(f"{n} windows of 60 letters, PWM, one thread: module from a list of str {list_s:.3f} s, "
      f"from a numpy S60 array {array_s:.3f} s; varnik score (whole process, FASTA in, "
      f"TSV out) {cli_s:.3f} s; scores equal")
