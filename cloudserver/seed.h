#pragma once
#include <cstdint>
#include <iosfwd>

namespace cloudserver {

class CloudStore;

struct SeedAccounts {
  static constexpr const char* kFirst = "alice";
  static constexpr const char* kFirstPassword = "alice-pass";
  static constexpr const char* kSecond = "bob";
  static constexpr const char* kSecondPassword = "bob-pass";
};

// Two accounts with sample trees and a share from the first to the second;
// with benchEntries > 0 also a folder of that many contents. Throws on failure.
void Seed(CloudStore& store, int64_t benchEntries, std::ostream& log);

}  // namespace cloudserver
