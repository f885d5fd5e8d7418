// A small timing harness that compares our code with a reference
// implementation on the same inputs. Each comparison runs both sides in
// alternating rounds (the machine's speed drifts), takes the per-round ratio
// of our time to the reference time, and prints the median as
//   RATIO <name> <ours / reference>
#ifndef KVCATOOL_BENCH_RATIO_H
#define KVCATOOL_BENCH_RATIO_H

#include <functional>
#include <string>

namespace bench {

struct Comparison {
  std::string name;
  // Each function runs the operation once. Setup happens outside them.
  std::function<void()> ours;
  std::function<void()> reference;
};

// Registers a comparison factory; the factory runs when the program starts
// the comparisons, so expensive setup is not paid for filtered-out ones.
int Register(const std::string& name, std::function<Comparison()> factory);

}  // namespace bench

#define KVCA_BENCH_CONCAT2(a, b) a##b
#define KVCA_BENCH_CONCAT(a, b) KVCA_BENCH_CONCAT2(a, b)
// KVCA_BENCHMARK(name) { return bench::Comparison{...}; }
#define KVCA_BENCHMARK(name)                                                        \
  static bench::Comparison KVCA_BENCH_CONCAT(bench_factory_, name)();               \
  static const int KVCA_BENCH_CONCAT(bench_reg_, name) =                            \
      bench::Register(#name, KVCA_BENCH_CONCAT(bench_factory_, name));              \
  static bench::Comparison KVCA_BENCH_CONCAT(bench_factory_, name)()

#endif
