// A stream cache loaded from a FILELIST, then released by a commit sequence number: both come
// from the input (the sequence number is the input's first line, the rest is the FILELIST).
#include <list>
#include <string>

#include "FuzzSupport.h"
#include "ObjectStoreStreamInfo.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  objstore_fuzz::SilenceLog();
  const std::string input(reinterpret_cast<const char*>(data), size);
  const size_t newline = input.find('\n');
  std::string sequence = input.substr(0, newline);
  const std::string list = newline == std::string::npos ? "" : input.substr(newline + 1);
  static const std::string dir = objstore_fuzz::ScratchDir();
  objstore_fuzz::WriteWholeFile(dir + "/FILELIST", list);

  ObjectStore::StreamInfo stream(dir);
  std::list<std::string> items;
  stream.getAllItem(items);
  std::list<std::string> committed;
  stream.getCommitGUIDList(sequence, committed);
  if (committed.size() > items.size()) __builtin_trap();
  return 0;
}
