"""A synthetic genome of uniform random letters (so GT, like every other
pair, at one position in 16 on each strand), in records of a given size:

  make_genome.py OUT.fa LETTERS RECORD_LETTERS SEED"""
import random
import sys

out, letters, record, seed = sys.argv[1], int(sys.argv[2]), int(sys.argv[3]), int(sys.argv[4])
try:
    import numpy
except ImportError:
    numpy = None
rng = random.Random(seed)
generator = numpy.random.default_rng(seed) if numpy else None
with open(out, "w") as f:
    for r, start in enumerate(range(0, letters, record), 1):
        n = min(record, letters - start)
        f.write(">chr%d\n" % r)
        for at in range(0, n, 6000000):
            m = min(6000000, n - at)
            if generator is not None:
                seq = numpy.frombuffer(b"ACGT", dtype=numpy.uint8)[generator.integers(0, 4, m)].tobytes().decode()
            else:
                seq = "".join(rng.choices("ACGT", k=m))
            f.write("\n".join(seq[i:i + 60] for i in range(0, m, 60)) + "\n")
