"""One row per sweep cell: its settings and the figures of its varnik run.

Run by the Snakefile's table rule (the `snakemake` object gives the cells);
the figures come from the report (the test measures), from the run's closing
line on standard error (the AUC of the test scores with its 95 % interval, and
the average precision) and from Snakemake's benchmark file of the cell (wall
seconds and peak resident memory in MB).
"""
import os
import re

COLUMNS = ["cell", "dataset", "method", "settings", "status", "message", "error", "sensitivity",
           "specificity", "precision", "G", "F", "AUC", "AUC_low", "AUC_high", "AP", "wall_s",
           "max_rss_MB"]

MEASURES = {"Error": "error", "Sensitivity (TP rate)": "sensitivity",
            "Specificity (TN rate)": "specificity", "Precision": "precision",
            "G-measure": "G", "F-measure": "F"}


def text(value):
    """A setting as the parameters file writes it (booleans in lower case)."""
    return str(value).lower() if isinstance(value, bool) else str(value)


def read(path):
    try:
        with open(path) as f:
            return f.read()
    except OSError:
        return ""


def figures(directory):
    row = {}
    status = read(os.path.join(directory, "status")).strip()
    row["status"] = status or "missing"
    out = read(os.path.join(directory, "stdout")).strip().splitlines()
    if status != "0":
        # The error line varnik printed last (or the usage line).
        row["message"] = out[-1] if out else read(os.path.join(directory, "stderr")).strip()
    report = read(os.path.join(directory, "report"))
    testing = report.split("TESTING results\n", 1)
    if len(testing) == 2:
        for line in testing[1].splitlines():
            key, _, value = line.lstrip("=> ").partition(": ")
            if key in MEASURES and MEASURES[key] not in row:
                row[MEASURES[key]] = value.strip()
    summary = read(os.path.join(directory, "stderr"))
    m = re.search(r"test AUC ([0-9.]+|undefined) \(95% CI (?:([0-9.]+) to ([0-9.]+)|undefined)\), "
                  r"AP ([0-9.]+|undefined)", summary)
    if m:
        # An undefined figure stays an empty cell.
        for column, value in zip(("AUC", "AUC_low", "AUC_high", "AP"), m.groups()):
            if value and value != "undefined":
                row[column] = value
    benchmark = read(os.path.join(directory, "benchmark.tsv")).splitlines()
    if len(benchmark) >= 2:
        measured = dict(zip(benchmark[0].split("\t"), benchmark[1].split("\t")))
        for key, column in (("s", "wall_s"), ("max_rss", "max_rss_MB")):
            if measured.get(key, "NA") != "NA":
                row[column] = measured[key]
    return row


def main(cells, directory, output):
    with open(output, "w") as f:
        f.write("\t".join(COLUMNS) + "\n")
        for name, dataset, method, settings in cells:
            row = {"cell": name, "dataset": dataset, "method": method,
                   "settings": ";".join("%s=%s" % (k, text(settings[k])) for k in sorted(settings))}
            row.update(figures(os.path.join(directory, name)))
            f.write("\t".join(row.get(c, "").replace("\t", " ") for c in COLUMNS) + "\n")


main(snakemake.params.cells, snakemake.params.directory, snakemake.output[0])  # noqa: F821
