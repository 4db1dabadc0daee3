#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <numeric>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "core/parallel.h"

namespace varnik {
namespace {

// Runs close together (as a solver's steps give them) and runs after a
// pause (the threads asleep): every part once, the failures of the lowest
// part first, whatever the team's size.
TEST(ThreadTeamTest, EveryPartOnceAndTheLowestFailureFirst) {
  for (int threads : {1, 2, 5}) {
    ThreadTeam team(threads);
    EXPECT_EQ(team.size(), threads);
    for (int round = 0; round < 300; ++round) {
      const int parts = 1 + round % 7;
      std::vector<int> hits(static_cast<size_t>(parts), 0);
      team.Run(parts, [&](int p) { ++hits[static_cast<size_t>(p)]; });
      EXPECT_EQ(std::accumulate(hits.begin(), hits.end(), 0), parts) << threads << " " << round;
      EXPECT_EQ(*std::min_element(hits.begin(), hits.end()), 1);
      if (round == 100) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    try {
      team.Run(6, [](int p) {
        if (p == 2 || p == 4) throw std::runtime_error("part " + std::to_string(p));
      });
      ADD_FAILURE() << "no failure";
    } catch (const std::runtime_error& e) {
      EXPECT_STREQ(e.what(), "part 2");
    }
    int after = 0;
    team.Run(3, [&](int) { __atomic_add_fetch(&after, 1, __ATOMIC_RELAXED); });
    EXPECT_EQ(after, 3);  // the team works on after a failure
  }
}

}  // namespace
}  // namespace varnik
