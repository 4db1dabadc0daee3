"""The example sweep, run end to end: one table row per cell with the figures
of the cell's report, plots, a failing cell reported without stopping the
others, and a second run with nothing to do.

  sweep_test.py VARNIK_BINARY
"""
import os
import re
import shutil
import subprocess
import sys
import tempfile

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
SNAKEFILE = os.path.join(ROOT, "workflows", "sweep", "Snakefile")


def fail(message):
    print("FAILED: " + message)
    sys.exit(1)


def main(binary):
    work = tempfile.mkdtemp(prefix="varnik-sweep-")
    try:
        config = os.path.join(work, "config.yaml")
        with open(os.path.join(ROOT, "workflows", "sweep", "config.yaml")) as f:
            text = f.read()
        text = text.replace("varnik: build/varnik", "varnik: " + binary)
        # A method whose cells fail (an epoch size below 1 stops the run).
        text += '  NeuralNet:\n    Epoch_size: [0]\n'
        with open(config, "w") as f:
            f.write(text)
        command = ["snakemake", "-s", SNAKEFILE, "-j", "2", "--directory", work,
                   "--configfile", config, "--quiet"]
        first = subprocess.run(command, capture_output=True, text=True)
        if first.returncode != 0:
            fail("the sweep stopped:\n" + first.stdout + first.stderr)
        table = os.path.join(work, "sweep-results", "summary.tsv")
        with open(table) as f:
            lines = f.read().splitlines()
        header = lines[0].split("\t")
        rows = [dict(zip(header, line.split("\t"))) for line in lines[1:]]
        # PWM, kNN with K 3 and 7, SVM with C 0.5 and 2, the failing network.
        if len(rows) != 6:
            fail("%d rows, not 6" % len(rows))
        for row in rows:
            cell = os.path.join(work, "sweep-results", "cells", row["cell"])
            if row["method"] == "NeuralNet":
                if row["status"] == "0" or not row["message"]:
                    fail("the failing cell is not reported: %r" % row)
                continue
            if row["status"] != "0":
                fail("cell %s failed: %s" % (row["cell"], row["message"]))
            with open(os.path.join(cell, "report")) as f:
                report = f.read()
            testing = report.split("TESTING results\n", 1)[1]
            for key, column in (("G-measure", "G"), ("Error", "error"),
                                ("Sensitivity (TP rate)", "sensitivity"),
                                ("Specificity (TN rate)", "specificity"),
                                ("F-measure", "F"), ("Precision", "precision")):
                value = re.search(r"^%s: (\S+)$" % re.escape(key), testing, re.M).group(1)
                if row[column] != value:
                    fail("%s of %s: table %s, report %s" % (key, row["cell"], row[column], value))
            with open(os.path.join(cell, "stderr")) as f:
                m = re.search(r"test AUC (\S+) \(95% CI (\S+) to (\S+)\), AP (\S+),", f.read())
            auc, low, high, ap = m.groups()
            if row["AUC"] != auc or not 0.5 < float(auc) <= 1:
                fail("AUC of %s: %s, %s" % (row["cell"], row["AUC"], auc))
            if (row["AUC_low"], row["AUC_high"], row["AP"]) != (low, high, ap) or \
                    not float(low) <= float(auc) <= float(high) or not 0 < float(ap) <= 1:
                fail("interval or AP of %s: %r, %s to %s, %s" % (row["cell"], row, low, high, ap))
            # Snakemake's benchmark of the cell: wall seconds, and peak memory
            # unless the run ended before Snakemake's first sample of it.
            if not float(row["wall_s"]) > 0 or not float(row["max_rss_MB"] or 1) > 0:
                fail("benchmark figures of %s: %r" % (row["cell"], row))
            with open(os.path.join(cell, "params")) as f:
                params = f.read()
            for item in filter(None, row["settings"].split(";")):
                key, _, value = item.partition("=")
                if value.lower() in ("true", "false"):
                    value = value.lower()
                if "%s: %s\n" % (key, value) not in params.replace("True", "true").replace("False", "false"):
                    fail("setting %s not in the parameters of %s" % (item, row["cell"]))
        plots = os.path.join(work, "sweep-results", "plots")
        for name in ("roc_best", "pr_best", "G_AUC_vs_K", "G_AUC_vs_C"):
            for suffix in ("svg", "png"):
                if not os.path.getsize(os.path.join(plots, name + "." + suffix)):
                    fail("empty plot " + name)
        again = subprocess.run(command[:-1] + ["-n"], capture_output=True, text=True)
        if again.returncode != 0 or "Nothing to be done" not in again.stdout + again.stderr:
            fail("a second run has work to do:\n" + again.stdout + again.stderr)
        print("sweep: %d cells, plots, nothing to redo" % len(rows))
    finally:
        shutil.rmtree(work, ignore_errors=True)


main(os.path.abspath(sys.argv[1]))
