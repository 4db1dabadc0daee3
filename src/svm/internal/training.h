// Shared by the SVM engine's training and cross-validation.
#pragma once

#include <vector>

#include "svm/svm.h"

namespace varnik {

// Classes in order of first appearance; perm lists the positions class by
// class, in training order within a class.
struct ClassGroups {
  int nr_class = 0;
  std::vector<int> label, start, count, perm;
};

ClassGroups svm_group_classes(const svm_problem& prob);

// The vectors at perm[0 .. begin) and perm[end .. l), in that order.
svm_problem ProblemWithout(const svm_problem& prob, const std::vector<int>& perm, int begin,
                           int end);

}  // namespace varnik
