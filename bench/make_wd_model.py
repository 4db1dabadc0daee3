"""A self-contained weighted-degree SVM model file with many support vectors
(random letters and coefficients) from a trained one, for the scan's table
benchmarks:

  make_wd_model.py TEMPLATE.model OUT.model VECTORS LENGTH SEED

The template gives the header and the settings; its window length, degree
and vectors are replaced."""
import random
import sys

template, out, vectors, length, seed = sys.argv[1], sys.argv[2], int(sys.argv[3]), int(sys.argv[4]), int(sys.argv[5])
rng = random.Random(seed)
with open(template) as f:
    lines = f.read().splitlines()
head = []
for line in lines:
    if line == "payload":
        break
    word = line.split(" ", 1)[0]
    if word in ("record_length", "sequence_length", "read_length", "window_length"):
        line = "%s %d" % (word, length)
    elif line.startswith("Sequence_length:"):
        line = "Sequence_length: %d" % length
    head.append(line)
positives = vectors // 4
body = ["svm_type c_svc", "kernel_type wd", "degree 22", "nr_class 2", "total_sv %d" % vectors,
        "rho 0.25", "label 1 0", "nr_sv %d %d" % (positives, vectors - positives), "SV"]
codes = [ord(c) for c in "ACGT"]
for i in range(vectors):
    coef = rng.uniform(0.01, 1.0) * (1 if i < positives else -positives / (vectors - positives))
    body.append("%r " % coef + " ".join("%d:%d" % (j, rng.choice(codes)) for j in range(length)) + " ")
with open(out, "w") as f:
    f.write("\n".join(head) + "\npayload\nsvm %d\n" % len(body) + "\n".join(body) + "\nend\n")
