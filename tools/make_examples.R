#!/usr/bin/env Rscript
# Rebuilds the example window files in data/examples/ from the StatLog version
# of the UCI primate splice-junction windows shipped by Debian's r-cran-mlbench
# (apt-get install r-cran-mlbench). Each of the 60 letters is coded there by
# three indicators: A 1 0 0, C 0 1 0, G 0 0 1, T 0 0 0.
#
# Donor task: exon/intron boundary windows (class ei) are positive, windows
# with no junction (class n) negative. Each class is split 2/3 for training and
# 1/3 for testing with a fixed seed.
#
#   Rscript tools/make_examples.R [output-directory]

args <- commandArgs(trailingOnly = TRUE)
out_dir <- if (length(args) >= 1) args[1] else "data/examples"
rda <- "/usr/lib/R/site-library/mlbench/data/DNA.rda"
if (!file.exists(rda)) stop("install r-cran-mlbench first: ", rda, " not found")
load(rda)

bits <- sapply(DNA[, 1:180], function(f) as.integer(as.character(f)))
decode <- function(row) {
  b <- matrix(row, nrow = 3)
  letter <- ifelse(b[1, ] == 1, "A", ifelse(b[2, ] == 1, "C", ifelse(b[3, ] == 1, "G", "T")))
  paste(letter, collapse = "")
}
windows <- apply(bits, 1, decode)
stopifnot(all(nchar(windows) == 60))

write_fasta <- function(path, rows, label) {
  con <- file(path, open = "w")
  for (r in rows) writeLines(c(sprintf(">%s_%d", label, r), windows[r]), con)
  close(con)
}

set.seed(20261208)
split_class <- function(label) {
  rows <- which(DNA$Class == label)
  rows <- rows[sample.int(length(rows))]
  n_train <- floor(length(rows) * 2 / 3)
  list(train = sort(rows[seq_len(n_train)]), test = sort(rows[-seq_len(n_train)]))
}
pos <- split_class("ei")
neg <- split_class("n")
dir.create(out_dir, showWarnings = FALSE, recursive = TRUE)
write_fasta(file.path(out_dir, "donor_train_pos"), pos$train, "ei")
write_fasta(file.path(out_dir, "donor_train_neg"), neg$train, "n")
write_fasta(file.path(out_dir, "donor_test_pos"), pos$test, "ei")
write_fasta(file.path(out_dir, "donor_test_neg"), neg$test, "n")
cat(sprintf("donor: %d/%d positive, %d/%d negative windows (train/test) in %s\n",
            length(pos$train), length(pos$test), length(neg$train), length(neg$test), out_dir))
