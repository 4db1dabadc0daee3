// The k nearest so far, kept sorted: shared by the k-NN searches (letters,
// real rows, the value-difference metric of SMOTE). Internal linkage, so that
// builds for different instruction sets each keep their own copy.
#pragma once

namespace varnik {
namespace {

// dist[0 .. k) ascending, each with its tag (an index or a label). A
// newcomer at distance d < dist[k - 1] enters in front of the first slot at
// d or beyond (so it goes before equal distances), and the last slot drops
// out.
template <typename Tag>
inline void EnterNearest(float* dist, Tag* tag, int k, float d, Tag t) {
  int p = 0;
  while (dist[p] < d) ++p;
  for (int s = k - 1; s > p; --s) {
    dist[s] = dist[s - 1];
    tag[s] = tag[s - 1];
  }
  dist[p] = d;
  tag[p] = t;
}

}  // namespace
}  // namespace varnik
