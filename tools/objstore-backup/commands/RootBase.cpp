#include "RootBase.h"

#include "KAPlatformInfo.h"

namespace objstore_host {

namespace {

// Where the library keeps the base it was once given (ObjectStoreStatic.cpp).
const char kRootKey[] = "OBJECTSTORE";
const char kRootValue[] = "sOBJECTSTORERootDir";

}  // namespace

std::string ChooseRootBase(const std::string& given) {
  if (!given.empty()) return given;
  std::string saved;
  KAPlatformInfo settings;
  settings.getString(kRootKey, kRootValue, &saved);
  return saved;
}

std::string NoRootBaseMessage() {
  return std::string("no root directory: give --root DIR, or save one as ") + kRootKey + " / " +
         kRootValue + " in the settings file [" + KAPlatformInfo::SettingsFilePath() + "]";
}

}  // namespace objstore_host
