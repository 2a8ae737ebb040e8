#include "Histogram.h"

#include <algorithm>
#include <cstdio>
#include <sstream>

namespace objstore_host {

namespace {

const double kBounds[] = {0.0005, 0.001, 0.0025, 0.005, 0.01, 0.025, 0.05, 0.1,
                          0.25,   0.5,   1,      2.5,   5,    10,    30,   60};
const size_t kBoundCount = sizeof(kBounds) / sizeof(kBounds[0]);

std::string Number(double value) {
  char text[32];
  std::snprintf(text, sizeof(text), "%.9g", value);
  return text;
}

}  // namespace

Histogram::Histogram() : buckets_(kBoundCount, 0) {}

void Histogram::observe(double seconds) {
  const size_t bucket =
      static_cast<size_t>(std::lower_bound(kBounds, kBounds + kBoundCount, seconds) - kBounds);
  std::lock_guard<std::mutex> lock(mutex_);
  if (bucket < kBoundCount) ++buckets_[bucket];
  ++count_;
  sum_ += seconds;
}

std::string Histogram::text(const std::string& name, const std::string& help) const {
  std::lock_guard<std::mutex> lock(mutex_);
  std::ostringstream out;
  out << "# HELP " << name << " " << help << "\n# TYPE " << name << " histogram\n";
  uint64_t cumulative = 0;
  for (size_t i = 0; i < kBoundCount; ++i) {
    cumulative += buckets_[i];
    out << name << "_bucket{le=\"" << Number(kBounds[i]) << "\"} " << cumulative << "\n";
  }
  out << name << "_bucket{le=\"+Inf\"} " << count_ << "\n";
  out << name << "_sum " << Number(sum_) << "\n";
  out << name << "_count " << count_ << "\n";
  return out.str();
}

uint64_t Histogram::count() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return count_;
}

}  // namespace objstore_host
