"""Plots of a sweep's table: the ROC curves and the precision-recall curves of
the best cell of every method (by AUC, then G) on one chart each, and G and
AUC against every swept parameter. Each as SVG and PNG. Run by the Snakefile's
plots rule."""
import csv
import os
from collections import defaultdict

import matplotlib

matplotlib.use("Agg")
import matplotlib.pyplot as plt  # noqa: E402


def number(text):
    try:
        return float(text)
    except (TypeError, ValueError):
        return None


def roc_points(path):
    """The ROC curve of an outputs file's "score class" lines."""
    scores = []
    with open(path) as f:
        for line in f:
            parts = line.split()
            if len(parts) == 2:
                scores.append((float(parts[0]), parts[1] == "1"))
    positives = sum(1 for _, p in scores if p)
    negatives = len(scores) - positives
    if positives == 0 or negatives == 0:
        return [0, 1], [0, 1]
    scores.sort(key=lambda s: -s[0])
    xs, ys, tp, fp = [0.0], [0.0], 0, 0
    for i, (score, positive) in enumerate(scores):
        tp += positive
        fp += not positive
        if i + 1 == len(scores) or scores[i + 1][0] != score:
            xs.append(fp / negatives)
            ys.append(tp / positives)
    return xs, ys


def pr_points(path):
    """The precision-recall steps of a run's curve table (report-curve.tsv)."""
    recalls, precisions = [], []
    with open(path) as f:
        for row in csv.DictReader(f, delimiter="\t"):
            recalls.append(float(row["sensitivity"]))
            precisions.append(float(row["precision"]))
    return recalls, precisions


def save(figure, plots, name):
    for suffix in ("svg", "png"):
        figure.savefig(os.path.join(plots, "%s.%s" % (name, suffix)), dpi=120)
    plt.close(figure)


def main(table, directory, plots):
    os.makedirs(plots, exist_ok=True)
    with open(table) as f:
        rows = [r for r in csv.DictReader(f, delimiter="\t") if r["status"] == "0"]
    best = {}
    for r in rows:
        key = (number(r["AUC"]) or 0, number(r["G"]) or 0)
        if r["method"] not in best or key > best[r["method"]][0]:
            best[r["method"]] = (key, r)
    figure, ax = plt.subplots(figsize=(5.5, 5.5))
    ax.plot([0, 1], [0, 1], linestyle="--", color="gray", linewidth=1)
    for method, (_, r) in sorted(best.items()):
        outputs = os.path.join(directory, r["cell"], "te_report")
        if os.path.exists(outputs):
            xs, ys = roc_points(outputs)
            ax.plot(xs, ys, label="%s, AUC %s" % (method, r["AUC"]))
    ax.set_xlabel("1 - specificity")
    ax.set_ylabel("sensitivity")
    ax.set_title("ROC curves, the best cell of each method")
    ax.legend(fontsize=7, loc="lower right")
    save(figure, plots, "roc_best")
    figure, ax = plt.subplots(figsize=(5.5, 5.5))
    for method, (_, r) in sorted(best.items()):
        table = os.path.join(directory, r["cell"], "report-curve.tsv")
        if os.path.exists(table):
            recalls, precisions = pr_points(table)
            ax.step(recalls, precisions, where="pre",
                    label="%s, AP %s" % (method, r["AP"] or "undefined"))
    ax.set_xlim(0, 1)
    ax.set_ylim(0, 1.02)
    ax.set_xlabel("recall (sensitivity)")
    ax.set_ylabel("precision")
    ax.set_title("Precision-recall curves, the best cell of each method")
    ax.legend(fontsize=7, loc="lower left")
    save(figure, plots, "pr_best")
    # G and AUC against every parameter that takes more than one value.
    values = defaultdict(lambda: defaultdict(list))  # parameter -> method -> [(value, G, AUC)]
    for r in rows:
        for item in filter(None, r["settings"].split(";")):
            key, _, value = item.partition("=")
            values[key][r["method"]].append((value, number(r["G"]), number(r["AUC"])))
    for key, by_method in sorted(values.items()):
        if len({v for points in by_method.values() for v, _, _ in points}) < 2:
            continue
        figure, axes = plt.subplots(1, 2, figsize=(10, 4))
        for method, points in sorted(by_method.items()):
            numeric = all(number(v) is not None for v, _, _ in points)
            points.sort(key=lambda p: number(p[0]) if numeric else p[0])
            xs = [number(v) if numeric else v for v, _, _ in points]
            for ax, index, label in ((axes[0], 1, "G-measure"), (axes[1], 2, "AUC")):
                ax.plot(xs, [p[index] for p in points], marker="o", label=method)
                ax.set_xlabel(key)
                ax.set_ylabel(label)
        axes[0].legend(fontsize=8)
        figure.suptitle("G and AUC against %s" % key)
        figure.tight_layout()
        save(figure, plots, "G_AUC_vs_" + "".join(c for c in key if c.isalnum()))


main(snakemake.input[0], snakemake.params.directory, snakemake.params.plots)  # noqa: F821
