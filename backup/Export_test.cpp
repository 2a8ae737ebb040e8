// The shared library exports its public interface, as cmake/objstorebackup.exports lists it, and
// nothing else: no private helper of an exported class, no internal function, no template
// instance of Boost or the standard library.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <set>
#include <string>

namespace {

// A symbol as the exports file names it: a function by its name and "(", without the
// parameters; every name without the C++11 string ABI tag.
std::string ListForm(std::string name) {
  const std::string tag = "[abi:cxx11]";
  for (size_t at = name.find(tag); at != std::string::npos; at = name.find(tag))
    name.erase(at, tag.size());
  const size_t open = name.find('(');
  if (open != std::string::npos) name.erase(open + 1);
  return name;
}

std::set<std::string> ExportedSymbols() {
  const std::string command =
      std::string("nm -DC --defined-only '") + OBJSTORE_SHARED_LIBRARY + "'";
  std::set<std::string> symbols;
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return symbols;
  char line[8192];
  while (fgets(line, sizeof(line), pipe) != nullptr) {
    // "<address> <type> <name>"
    std::string text(line);
    if (!text.empty() && text.back() == '\n') text.pop_back();
    const size_t nameAt = text.find(' ', text.find(' ') + 1);
    if (nameAt != std::string::npos) symbols.insert(ListForm(text.substr(nameAt + 1)));
  }
  pclose(pipe);
  return symbols;
}

std::set<std::string> ListedSymbols() {
  std::set<std::string> names;
  std::ifstream in(OBJSTORE_EXPORTS_FILE);
  std::string line;
  while (std::getline(in, line)) {
    const size_t begin = line.find_first_not_of(" \t");
    if (begin == std::string::npos || line[begin] == '#') continue;
    names.insert(line.substr(begin, line.find_last_not_of(" \t") + 1 - begin));
  }
  return names;
}

TEST(SharedLibraryExports, ExactlyTheListedSymbols) {
  const std::set<std::string> exported = ExportedSymbols();
  const std::set<std::string> listed = ListedSymbols();
  ASSERT_FALSE(exported.empty()) << "nm found no symbols in " << OBJSTORE_SHARED_LIBRARY;
  ASSERT_GT(listed.size(), 50u) << "cannot read " << OBJSTORE_EXPORTS_FILE;
  for (const std::string& name : exported)
    EXPECT_EQ(1u, listed.count(name)) << "exported but not in the list: " << name;
  for (const std::string& name : listed)
    EXPECT_EQ(1u, exported.count(name)) << "listed but not exported: " << name;
}

}  // namespace
