"""The parts of one genome's scan merged: records in the order of their
names (byte order, as LC_ALL=C sort gives), each part's lines in position
order as varnik wrote them."""
import os
import shutil


def records(folder):
    with open(os.path.join(folder, "records.tsv")) as f:
        rows = [line.split("\t") for line in f.read().splitlines()]
    return sorted(rows, key=lambda row: row[1].encode())


def merge(parts, order, output):
    by_part = {os.path.basename(p).split(".")[0]: p for p in parts}
    temporary = output + ".partial"
    with open(temporary, "wb") as out:
        for part, _, _ in order:
            with open(by_part[part], "rb") as f:
                shutil.copyfileobj(f, out)
    os.replace(temporary, output)


order = records(snakemake.input.records)
merge(snakemake.input.bed, order, snakemake.output.bed)
merge(snakemake.input.bedgraph, order, snakemake.output.bedgraph)
