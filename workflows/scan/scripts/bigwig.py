"""The merged bedGraph of a genome as a bigWig track (pyBigWig; Debian
python3-pybigwig), its chromosomes the records in name order with their
lengths."""
import os

import pyBigWig

with open(os.path.join(snakemake.input.records, "records.tsv")) as f:
    rows = [line.split("\t") for line in f.read().splitlines()]
chromosomes = sorted(((name, int(length)) for _, name, length in rows), key=lambda c: c[0].encode())
temporary = snakemake.output[0] + ".partial"
track = pyBigWig.open(temporary, "w")
track.addHeader(chromosomes)
batch = ([], [], [])


def flush():
    if batch[0]:
        track.addEntries(batch[0], batch[1], ends=[s + 1 for s in batch[1]], values=batch[2])
    for b in batch:
        b.clear()


with open(snakemake.input.bedgraph) as f:
    for line in f:
        chrom, start, _, value = line.split("\t")
        if batch[0] and (batch[0][-1] != chrom or len(batch[0]) >= 100000):
            flush()
        batch[0].append(chrom)
        batch[1].append(int(start))
        batch[2].append(float(value))
flush()
track.close()
os.replace(temporary, snakemake.output[0])
