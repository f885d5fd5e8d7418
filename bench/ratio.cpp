// The driver of the comparisons: kvbench [--rounds N] [name...]
#include "bench/ratio.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <vector>

namespace bench {
namespace {

std::map<std::string, std::function<Comparison()>>& Registry() {
  static std::map<std::string, std::function<Comparison()>> registry;
  return registry;
}

// Runs |fn| repeatedly for at least |budget| seconds and returns the time of
// one run.
double TimeOne(const std::function<void()>& fn, long iterations) {
  auto start = std::chrono::steady_clock::now();
  for (long i = 0; i < iterations; ++i) fn();
  std::chrono::duration<double> spent = std::chrono::steady_clock::now() - start;
  return spent.count() / static_cast<double>(iterations);
}

long Calibrate(const std::function<void()>& fn, double target) {
  long n = 1;
  for (;;) {
    double t = TimeOne(fn, n) * static_cast<double>(n);
    if (t >= target || n > (1L << 30)) return n;
    n = t <= 0 ? n * 16 : std::max(n + 1, static_cast<long>(static_cast<double>(n) * target / t * 1.1));
  }
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  size_t m = v.size() / 2;
  return v.size() % 2 ? v[m] : (v[m - 1] + v[m]) / 2;
}

}  // namespace

int Register(const std::string& name, std::function<Comparison()> factory) {
  Registry()[name] = std::move(factory);
  return 0;
}

}  // namespace bench

int main(int argc, char** argv) {
  int rounds = 9;
  double slice = 0.05;
  std::vector<std::string> wanted;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--rounds") == 0 && i + 1 < argc) {
      rounds = std::max(1, std::atoi(argv[++i]));
    } else if (std::strcmp(argv[i], "--slice") == 0 && i + 1 < argc) {
      slice = std::atof(argv[++i]);
    } else {
      wanted.emplace_back(argv[i]);
    }
  }
  for (auto& [name, factory] : bench::Registry()) {
    if (!wanted.empty() && std::find(wanted.begin(), wanted.end(), name) == wanted.end()) continue;
    bench::Comparison c = factory();
    long nOurs = bench::Calibrate(c.ours, slice);
    long nRef = bench::Calibrate(c.reference, slice);
    std::vector<double> ratios;
    double bestOurs = 1e300, bestRef = 1e300;
    for (int r = 0; r < rounds; ++r) {
      double ours = bench::TimeOne(c.ours, nOurs);
      double ref = bench::TimeOne(c.reference, nRef);
      bestOurs = std::min(bestOurs, ours);
      bestRef = std::min(bestRef, ref);
      ratios.push_back(ours / ref);
    }
    std::printf("# %s: ours %.3f us, reference %.3f us (best of %d rounds)\n", name.c_str(), bestOurs * 1e6,
                bestRef * 1e6, rounds);
    std::printf("RATIO %s %.3f\n", name.c_str(), bench::Median(ratios));
    std::fflush(stdout);
  }
  return 0;
}
