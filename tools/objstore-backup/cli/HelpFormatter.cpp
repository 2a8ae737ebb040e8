#include "HelpFormatter.h"

namespace objstore_host {

namespace {

// CLI11's names for the C++ type of a value, which say nothing a user needs.
bool IsGenericTypeName(const std::string& name) {
  for (const char* generic : {"TEXT", "UINT", "INT", "FLOAT", "BOOLEAN", "ENUM"}) {
    if (name == generic) return true;
  }
  return false;
}

std::string WithoutBraces(std::string text) {
  for (size_t open = text.find('{'); open != std::string::npos; open = text.find('{', open)) {
    const size_t close = text.find('}', open);
    if (close == std::string::npos) break;
    text.erase(open, close - open + 1);
  }
  return text;
}

}  // namespace

HelpFormatter::HelpFormatter() {
  column_width(28);
}

std::string HelpFormatter::make_option_name(const CLI::Option* option, bool isPositional) const {
  return WithoutBraces(CLI::Formatter::make_option_name(option, isPositional));
}

std::string HelpFormatter::make_option_opts(const CLI::Option* option) const {
  if (option->get_type_size() == 0 || option->get_positional()) return "";
  std::string type = option->get_type_name();
  type = type.substr(0, type.find(':'));  // a validator's name follows a colon
  return type.empty() || IsGenericTypeName(type) ? "" : " " + type;
}

std::string HelpFormatter::make_option_desc(const CLI::Option* option) const {
  std::string text = option->get_description();
  if (option->get_type_size() != 0 && !option->get_default_str().empty()) {
    text += " (default: " + option->get_default_str() + ")";
  }
  if (option->get_required()) text += " (required)";
  return text;
}

}  // namespace objstore_host
