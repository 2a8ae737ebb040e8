#include "TreeCompare.h"

#include <map>

#include "FileCompare.h"
#include "SourceTree.h"

namespace objstore_host {

namespace {

std::map<std::string, SourceEntry> ListTree(const std::string& root,
                                            std::vector<std::string>* problems) {
  std::vector<SourceEntry> entries;
  SourceTree(root).list(&entries, problems);
  std::map<std::string, SourceEntry> byPath;
  for (const SourceEntry& entry : entries) byPath[entry.relativePath] = entry;
  return byPath;
}

std::string Difference(const SourceEntry& expected, const SourceEntry& actual) {
  if (expected.kind != actual.kind) {
    return std::string("a ") + ObjectKindName(expected.kind) + " became a " +
           ObjectKindName(actual.kind);
  }
  std::string difference;
  if (expected.kind == ObjectKind::kFile) {
    FilesEqual(expected.absolutePath, actual.absolutePath, &difference);
  } else if (expected.kind == ObjectKind::kSymlink) {
    ObjectMetadata a;
    ObjectMetadata b;
    if (!SourceTree::Describe(expected, &a, &difference) ||
        !SourceTree::Describe(actual, &b, &difference)) {
      return difference;
    }
    if (a.linkTarget != b.linkTarget) difference = "link target differs";
  }
  return difference;
}

}  // namespace

TreeComparison CompareTrees(const std::string& expected, const std::string& actual) {
  TreeComparison result;
  const std::map<std::string, SourceEntry> left = ListTree(expected, &result.differences);
  const std::map<std::string, SourceEntry> right = ListTree(actual, &result.differences);
  result.objects = left.size();
  for (const auto& entry : left) {
    std::map<std::string, SourceEntry>::const_iterator other = right.find(entry.first);
    if (other == right.end()) {
      result.differences.push_back(entry.first + ": missing");
      continue;
    }
    const std::string difference = Difference(entry.second, other->second);
    if (!difference.empty()) result.differences.push_back(entry.first + ": " + difference);
    if (entry.second.kind == ObjectKind::kFile) result.bytes += entry.second.status.st_size;
  }
  for (const auto& entry : right) {
    if (left.count(entry.first) == 0) result.differences.push_back(entry.first + ": unexpected");
  }
  return result;
}

}  // namespace objstore_host
