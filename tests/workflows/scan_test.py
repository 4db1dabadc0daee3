"""The genome-scan workflow, run end to end on a small genome of a few
records (compressed as bgzip writes it, several gzip members): its merged
BED and bedGraph are the lines of one scan of the whole genome, records in
name order; its bigWig holds the bedGraph's values; a second run has nothing
to do.

  scan_test.py VARNIK_BINARY
"""
import gzip
import os
import random
import shutil
import subprocess
import sys
import tempfile

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
SNAKEFILE = os.path.join(ROOT, "workflows", "scan", "Snakefile")

try:
    import pyBigWig
except ImportError:
    pyBigWig = None


def fail(message):
    print("FAILED: " + message)
    sys.exit(1)


def by_record(text):
    """The lines grouped by record, records in name order, each record's
    lines as they stand."""
    groups = {}
    for line in text.splitlines():
        groups.setdefault(line.split("\t", 1)[0], []).append(line)
    return [line for name in sorted(groups, key=str.encode) for line in groups[name]]


def main(binary):
    work = tempfile.mkdtemp(prefix="varnik-scan-")
    try:
        rng = random.Random(4)
        dna = lambda n: "".join(rng.choice("ACGT") for _ in range(n))
        for cls, motif in (("pos", "AAG"), ("neg", None)):
            with open(os.path.join(work, "tr_" + cls), "w") as f:
                for i in range(60):
                    w = dna(5) + "GT" + (motif or dna(3)) + dna(4)
                    f.write(">w%d\n%s\n" % (i, w))
        with open(os.path.join(work, "p"), "w") as f:
            f.write("Recognition_method: PWM\n")
        trained = subprocess.run([binary, "--model", "donor.model", "tr_", "NIL", "p", "run"],
                                 cwd=work, capture_output=True)
        if not os.path.exists(os.path.join(work, "donor.model")):
            fail("no model: " + trained.stderr.decode())
        records = [("chrB", dna(3000)), ("chr10", dna(1500)), ("chrA extra words", dna(2500)),
                   ("tiny", "ACGTGT")]
        members = []
        for name, seq in records:
            text = ">%s\n%s\n" % (name, "\n".join(seq[i:i + 60] for i in range(0, len(seq), 60)))
            members.append(gzip.compress(text.encode()))
        with open(os.path.join(work, "genome.fa.gz"), "wb") as f:
            f.write(b"".join(members))
        config = os.path.join(work, "config.yaml")
        with open(config, "w") as f:
            f.write("varnik: %s\nmodel: %s\nstrands: both\nmin_score: -5\nthreads: 1\n"
                    "bigwig: %s\nresults: out\ngenomes:\n  g: %s\n"
                    % (binary, os.path.join(work, "donor.model"),
                       "true" if pyBigWig else "false", os.path.join(work, "genome.fa.gz")))
        command = ["snakemake", "-s", SNAKEFILE, "-j", "2", "--directory", work,
                   "--configfile", config, "--quiet"]
        first = subprocess.run(command, capture_output=True, text=True)
        if first.returncode != 0:
            fail("the workflow stopped:\n" + first.stdout + first.stderr)
        for fmt, suffix in (("bed", "bed"), ("bedgraph", "bedgraph")):
            whole = subprocess.run([binary, "scan", "--strands", "both", "--min-score", "-5.0",
                                    "--format", fmt, "donor.model", "genome.fa.gz"],
                                   cwd=work, capture_output=True, text=True)
            with open(os.path.join(work, "out", "g." + suffix)) as f:
                merged = f.read().splitlines()
            expected = by_record(whole.stdout)
            if len(expected) < 50 or merged != expected:
                fail("%s: %d merged lines, %d from one scan" % (fmt, len(merged), len(expected)))
            if fmt == "bedgraph":
                graph = merged
        if pyBigWig:
            track = pyBigWig.open(os.path.join(work, "out", "g.bw"))
            chroms = track.chroms()
            if chroms != {"chr10": 1500, "chrA": 2500, "chrB": 3000, "tiny": 6}:
                fail("bigWig chromosomes %r" % chroms)
            back = []
            for name in sorted(chroms, key=str.encode):
                for start, end, value in track.intervals(name) or []:
                    back.append("%s\t%d\t%d\t%.6f" % (name, start, end, value))
            if back != graph:
                fail("the bigWig holds %d values, the bedGraph %d lines" % (len(back), len(graph)))
        again = subprocess.run(command[:-1] + ["-n"], capture_output=True, text=True)
        if again.returncode != 0 or "Nothing to be done" not in again.stdout + again.stderr:
            fail("a second run has work to do:\n" + again.stdout + again.stderr)
        print("scan workflow: %d bedGraph lines%s, nothing to redo"
              % (len(graph), " and the bigWig" if pyBigWig else ""))
    finally:
        shutil.rmtree(work, ignore_errors=True)


main(os.path.abspath(sys.argv[1]))
