// KAPlatformInfo: the platform settings store.
//
// Values live under a key (text, may contain backslashes) and a value name, typed as text,
// number (64-bit unsigned) or directory; a key can also exist without values. The store is one
// text file, named by OBJSTORE_SETTINGS_FILE or, when that is unset, $HOME/.config/objstore/
// settings (/tmp/objstore-settings without HOME). Every object reads the file when it is made;
// setters rewrite it atomically (temporary file, then rename), so a crash never leaves a torn
// file. A missing file reads as empty; a malformed line is skipped with a warning. A setter
// re-reads the file and changes only its own value, so values other objects wrote meanwhile
// survive. Keys and value names are case-sensitive. Deleting a key's last value keeps the key.
// Objects are cheap and meant to be made per operation; one object is not shared by threads,
// but several objects may be used at once by different threads.
#ifndef OBJSTORE_PLATFORM_KAPLATFORMINFO_H_
#define OBJSTORE_PLATFORM_KAPLATFORMINFO_H_

#include <map>
#include <string>
#include <utility>

class KAPlatformInfo {
 public:
  KAPlatformInfo();
  ~KAPlatformInfo();

  // Readers return non-zero when the value exists (and fill `out`), zero when it is missing or
  // has another type. `out` is left unchanged when missing.
  int getString(const char* key, const char* valueName, std::string* out);
  int getDirectory(const char* key, const char* valueName, std::string* out);
  int getNumber(const char* key, const char* valueName, unsigned long* out);
  int getLongLong(const char* key, const char* valueName, unsigned long long* out);
  // The 32-bit form: stores the low 32 bits of the value when it exists.
  inline int getNumber(const char* key, const char* valueName, unsigned int* out);

  // Writers return non-zero on success; a failed write leaves the file as it was.
  int setValue(const std::string& key, const std::string& valueName, const std::string& data);
  int setDirectory(const std::string& key, const std::string& valueName, const std::string& dir);
  int setNumber(const std::string& key, const std::string& valueName, unsigned long long value);
  int createRegKey(const char* key);
  int deleteValue(const std::string& key, const std::string& valueName);
  int keyExists(const char* key);

  // The path of the settings file this process uses.
  static std::string SettingsFilePath();

  enum class ValueType { kText, kNumber, kDirectory, kKey };
  struct Value {
    ValueType type;
    std::string data;
  };
  typedef std::map<std::pair<std::string, std::string>, Value> Values;

 private:
  int set(const std::string& key, const std::string& valueName, ValueType type,
          const std::string& data);
  const Value* find(const char* key, const char* valueName, ValueType type) const;

  Values values_;
};

inline int KAPlatformInfo::getNumber(const char* key, const char* valueName, unsigned int* out) {
  unsigned long wide = 0;
  int found = getNumber(key, valueName, &wide);
  if (found != 0) *out = static_cast<unsigned int>(wide);
  return found;
}

#endif  // OBJSTORE_PLATFORM_KAPLATFORMINFO_H_
