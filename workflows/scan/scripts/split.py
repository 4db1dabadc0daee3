"""One FASTA file per record of a genome (plain, gzip or bgzip), named by
its number, and records.tsv: part, record name, length in letters. The
record name is the header's first word, as varnik takes it."""
import gzip
import os
import sys


def opened(path):
    with open(path, "rb") as f:
        magic = f.read(2)
    return gzip.open(path, "rb") if magic == b"\x1f\x8b" else open(path, "rb")


def split(genome, folder):
    os.makedirs(folder, exist_ok=True)
    records = []
    out = None
    with opened(genome) as f:
        for number, line in enumerate(f, 1):
            if line.startswith(b">"):
                words = line[1:].split()
                if not words:
                    sys.exit("%s: line %d: a record without a name" % (genome, number))
                if out is not None:
                    out.close()
                part = "%06d" % (len(records) + 1)
                records.append([part, words[0].decode("utf-8", "replace"), 0])
                out = open(os.path.join(folder, part + ".fa"), "wb")
                out.write(b">" + words[0] + b"\n")
            elif out is None:
                if line.strip():
                    sys.exit("%s: line %d: sequence before the first header" % (genome, number))
            else:
                out.write(line)
                records[-1][2] += len(line.strip().replace(b" ", b"").replace(b"\t", b""))
    if out is not None:
        out.close()
    names = [r[1] for r in records]
    if len(set(names)) != len(names):
        sys.exit("%s: a record name is given twice" % genome)
    with open(os.path.join(folder, "records.tsv"), "w") as f:
        for part, name, length in records:
            f.write("%s\t%s\t%d\n" % (part, name, length))


split(snakemake.input[0], snakemake.output[0])
